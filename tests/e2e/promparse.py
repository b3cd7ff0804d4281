"""Reads a metrics text on standard input with the Prometheus client's own
parser and prints every sample as one JSON object: {"name{k=v,...}": value}.
Labels are sorted by key, so the keys are easy to spell in a test."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

out = {}
for family in text_string_to_metric_families(sys.stdin.read()):
    for s in family.samples:
        labels = ",".join(f"{k}={v}" for k, v in sorted(s.labels.items()))
        out[s.name + ("{" + labels + "}" if labels else "")] = s.value
print(json.dumps(out))

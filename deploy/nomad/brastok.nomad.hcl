# Brastok servers under Nomad: COUNT servers of the image from
# deploy/container/Dockerfile spread over the cluster's clients, each with a
# dynamic host port mapped to the container's 35700 (Nomad maps UDP and TCP).
#
#   nomad job run deploy/nomad/brastok.nomad.hcl
#   nomad service info brastok     # address and port of every server
#
# Each server is registered as a service with a health check. The check
# asks the HTTP side (-http) for /healthz; with Consul as the service
# provider, a script check can run the image's client instead (below).
# Push the image to a registry the clients read and set its name below.
job "brastok" {
  type = "service"

  group "servers" {
    count = 4

    network {
      port "game" { to = 35700 }
      port "http" { to = 8080 }
    }

    restart {
      attempts = 3
      interval = "5m"
      delay    = "5s"
      mode     = "delay"
    }

    task "brastok" {
      driver = "docker"

      config {
        image = "registry.example.org/brastok:1.0.0"
        ports = ["game", "http"]
        args  = ["-bots", "4", "-map", "yard", "-http", "0.0.0.0:8080", "-name", "Brastok on Nomad"]
      }

      kill_signal  = "SIGTERM"
      kill_timeout = "10s"

      resources {
        cpu    = 50 # MHz
        memory = 32 # MiB
      }

      service {
        name     = "brastok"
        port     = "game"
        provider = "nomad"

        check {
          type     = "http"
          port     = "http"
          path     = "/healthz"
          interval = "30s"
          timeout  = "5s"
        }

        # With provider = "consul":
        # check {
        #   type     = "script"
        #   command  = "/usr/bin/brastok_client"
        #   args     = ["status", "--timeout", "5", "127.0.0.1:35700"]
        #   interval = "30s"
        #   timeout  = "10s"
        # }
      }
    }
  }
}

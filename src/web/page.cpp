// The live page: one self-contained document, served from memory.
#include "web/web.hpp"

const char* const WEB_PAGE = R"PAGE(<!doctype html>
<html><head><meta charset="utf-8"><title>Brastok</title></head>
<body><p>Brastok server</p></body></html>
)PAGE";

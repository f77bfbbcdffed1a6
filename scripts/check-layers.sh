#!/usr/bin/env bash
# Fails, naming the file, line and header, when a tracked C++ file includes a header of a layer
# above its own. The layers, lowest first: platform, api, data, storylist, then app and widget
# side by side (neither includes the other). A layer's tests (files under a tests/ folder) may
# also include testsupport/; nothing else of the product may. testsupport/ may include any layer
# of the product; bench/, fuzz/ and tools/ stand outside the order, and no layer includes them.
# Inside a layer (data/'s model, sync and discovery among them) anything goes.
# Run from anywhere in the clone.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! git ls-files -z '*.cpp' '*.h' '*.c' '*.hpp' | xargs -0 awk '
    function rank(layer) {
        if (layer == "platform") return 1
        if (layer == "api") return 2
        if (layer == "data") return 3
        if (layer == "storylist") return 4
        if (layer == "app" || layer == "widget") return 5
        return 0
    }
    FNR == 1 {
        split(FILENAME, parts, "/")
        own = parts[1]
        test = FILENAME ~ /(^|\/)tests\//
    }
    /^[ \t]*#[ \t]*include[ \t]*["<][a-z]+\// {
        header = $0
        sub(/^[^"<]*["<]/, "", header)
        sub(/[">].*$/, "", header)
        split(header, hparts, "/")
        layer = hparts[1]
        if (rank(own) == 0 && own != "testsupport")
            next # bench, fuzz, tools: outside the order
        why = ""
        if (layer == "bench" || layer == "fuzz" || layer == "tools")
            why = "the product includes nothing of " layer "/"
        else if (layer == "testsupport") {
            if (rank(own) > 0 && !test)
                why = "only tests include testsupport/"
        } else if (rank(layer) == 0) {
            next # a system or library header
        } else if (own == "testsupport") {
            next
        } else if (rank(layer) > rank(own))
            why = own "/ lies below " layer "/"
        else if (rank(layer) == rank(own) && layer != own)
            why = own "/ and " layer "/ lie side by side"
        if (why != "") {
            printf "%s:%d: includes %s: %s\n", FILENAME, FNR, header, why
            bad = 1
        }
    }
    END { exit bad }
'; then
    echo "check-layers: a file above includes a header of a layer it may not use"
    exit 1
fi

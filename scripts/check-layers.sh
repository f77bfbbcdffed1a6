#!/usr/bin/env bash
# Fails, naming the file, line and header, when a tracked C++ file includes a header of a layer
# above its own. The layers, lowest first: platform, api, data, storylist, then app and widget
# side by side (neither includes the other). A layer's tests (files under a tests/ folder) may
# also include testsupport/; nothing else of the product may. testsupport/ may include any layer
# of the product; bench/, fuzz/ and tools/ stand outside the order, and no layer includes them.
# Inside a layer (data/'s model, sync and discovery among them) anything goes, but for
# platform/foundation/, whose folders keep an order of their own, lowest first: base, then xml,
# images and network side by side, serialization, store, process (their tests, and the helper
# programs among them that end as programs do, may use any). No header has a using-directive at
# namespace scope.
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
    function folderRank(folder) {
        if (folder == "base") return 1
        if (folder == "xml" || folder == "images" || folder == "network") return 2
        if (folder == "serialization") return 3
        if (folder == "store") return 4
        if (folder == "process") return 5
        return 0
    }
    # The folder of platform/foundation a path lies in, or "" outside it.
    function foundationFolder(path,    p) {
        split(path, p, "/")
        if (p[1] == "platform" && p[2] == "foundation" && folderRank(p[3]) > 0)
            return p[3]
        return ""
    }
    FNR == 1 {
        split(FILENAME, parts, "/")
        own = parts[1]
        ownFolder = foundationFolder(FILENAME)
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
        } else if (ownFolder != "" && !test && (folder = foundationFolder(header)) != "") {
            if (folderRank(folder) > folderRank(ownFolder))
                why = "foundation/" ownFolder "/ lies below foundation/" folder "/"
            else if (folderRank(folder) == folderRank(ownFolder) && folder != ownFolder)
                why = "foundation/" ownFolder "/ and foundation/" folder "/ lie side by side"
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

# A header names what it takes from another namespace, qualified or by a using-declaration of that
# one name: a using-directive at namespace scope would carry a whole library's names into every
# file that includes it. A .cpp file may open its own.
if git grep -nE '^using namespace' -- '*.h' '*.hpp'; then
    echo "check-layers: a header opens a namespace for every file that includes it"
    exit 1
fi

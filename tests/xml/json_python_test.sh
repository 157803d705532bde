#!/usr/bin/env bash
# The JSON writer's output read by Python's standard JSON parser.
# Usage: json_python_test.sh <json_check binary>. Exit 77 without python3.
set -euo pipefail
tool=$1
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }

"$tool" bytes | python3 -m json.tool >/dev/null
"$tool" bytes | python3 -c '
import json, sys
d = json.load(sys.stdin)
assert d["all"] == bytes(range(1, 256)).decode("latin-1"), repr(d["all"])
assert d["tag \"with\" \\ and \x01"] == "v", d
'

cat >doc.xml <<'XML'
<order id="7"><line n="1">Bolt "M8" \ 'x'</line><line>Nut</line><line/>
<total>12.50</total><mixed>text<child>c</child></mixed><empty/></order>
XML
"$tool" xml doc.xml | python3 -c '
import json, sys
d = json.load(sys.stdin)
o = d["order"]
assert o["@id"] == "7", o
assert o["line"] == [{"@n": "1", "#text": "Bolt \"M8\" \\ '"'"'x'"'"'"}, "Nut", ""], o["line"]
assert o["total"] == "12.50" and o["empty"] == "", o
assert o["mixed"] == {"#text": "text", "child": "c"}, o["mixed"]
'
echo "JSON read by Python: ok"

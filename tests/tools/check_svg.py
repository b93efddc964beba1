"""Parses a signature SVG and prints its stroke count and path count, or fails."""
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == NS + "svg", root.tag
assert float(root.get("width")) > 0 and float(root.get("height")) > 0
strokes = [g for g in root.iter(NS + "g") if (g.get("id") or "").startswith("stroke-")]
paths = 0
for stroke in strokes:
    for path in stroke.iter(NS + "path"):
        assert float(path.get("stroke-width")) > 0
        assert path.get("d").startswith("M")
        paths += 1
print(len(strokes), paths)

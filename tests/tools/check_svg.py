"""Parses a signature SVG and prints its path count (one filled outline per stroke), or fails."""
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"
root = ET.parse(sys.argv[1]).getroot()
assert root.tag == NS + "svg", root.tag
assert float(root.get("width")) > 0 and float(root.get("height")) > 0
paths = 0
for path in root.iter(NS + "path"):
    assert path.get("d").startswith("M"), path.get("d")[:20]
    paths += 1
print(paths)

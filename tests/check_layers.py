"""Fails when a source file includes a header of a layer above it or beside it."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1]) / "src"
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

# folder (relative to src) -> include prefixes it must not use; the first matching folder applies.
rules = [
    ("platform/pipeline", ["filter/", "uiplug-in-old/"]),
    ("platform", ["filter/", "uiplug-in-old/", "platform/pipeline/"]),
    ("filter/framework", ["filter/filter_nongdi/", "uiplug-in-old/", "platform/pipeline/"]),
    ("filter/filter_nongdi/preprocess", ["filter/filter_nongdi/finishing/", "filter/filter_nongdi/rotation/"]),
    ("filter/filter_nongdi/finishing", ["filter/filter_nongdi/preprocess/", "filter/filter_nongdi/rotation/"]),
    ("filter/filter_nongdi/rotation", ["filter/filter_nongdi/preprocess/", "filter/filter_nongdi/finishing/"]),
    ("filter", ["uiplug-in-old/", "platform/pipeline/"]),
    ("uiplug-in-old/core", ["uiplug-in-old/pages/", "filter/", "platform/pipeline/"]),
    ("uiplug-in-old", ["filter/", "platform/pipeline/"]),
]

faults = []
for path in sorted(root.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    folder = path.relative_to(root).parent.as_posix()
    banned = next((b for f, b in rules if folder == f or folder.startswith(f + "/")), [])
    for name in include.findall(path.read_text(encoding="utf-8")):
        if any(name.startswith(prefix) for prefix in banned):
            faults.append("%s includes %s" % (path.relative_to(root), name))
print("\n".join(faults) or "layers respected")
sys.exit(1 if faults else 0)

"""Writes the image test fixtures as a seed corpus for image_fuzz: make_image_seeds.py DIR
(needs PIL)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "images"))
import fixtures  # noqa: E402

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for name, data in fixtures.fixtures().items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

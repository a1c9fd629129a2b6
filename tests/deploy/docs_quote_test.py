#!/usr/bin/env python3
"""docs/administrators.md quotes the deployment files as they are: each file's whole text (CR LF
read as LF) stands in one fenced block of the page."""
import os
import re
import sys

source = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
page = open(os.path.join(source, "docs", "administrators.md"), encoding="utf-8").read()
blocks = re.findall(r"^```[a-z]*\n(.*?)^```$", page, re.M | re.S)
failed = 0
for name in ["deploy/velo-deploy.cmd", "deploy/intune/requirement.ps1",
             "deploy/intune/detection.ps1"]:
    text = open(os.path.join(source, name), encoding="utf-8", newline="").read()
    if text.replace("\r\n", "\n") not in blocks:
        failed += 1
        print(f"FAIL: docs/administrators.md does not quote {name} as it is")
print(f"{3 - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)

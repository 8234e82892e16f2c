#!/usr/bin/env python3
"""Every catalog is complete for the sources as they are now: lupdate, run on copies, finds no
text without a translation (each plural form included), and each translation keeps the source's
placeholders, without which a name or a number would go missing from the sentence.

    check_catalogs.py LUPDATE CATALOG... -- LUPDATE_ARGUMENTS...
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

split = sys.argv.index("--")
lupdate, catalogs, arguments = sys.argv[1], sys.argv[2:split], sys.argv[split + 1:]
problems = []
with tempfile.TemporaryDirectory() as scratch:
    copies = [shutil.copy(catalog, scratch) for catalog in catalogs]
    subprocess.run([lupdate, *arguments, "-ts", *copies], check=True, stdout=subprocess.DEVNULL)
    for copy in copies:
        for context in ET.parse(copy).getroot().iter("context"):
            for message in context.iter("message"):
                source = message.findtext("source")
                translation = message.find("translation")
                forms = translation.findall("numerusform") or [translation]
                placeholders = sorted(set(re.findall(r"%(?:n|\d)", source)))
                if translation.get("type") or any(
                        not form.text or sorted(set(re.findall(r"%(?:n|\d)", form.text))) != placeholders
                        for form in forms):
                    problems.append(f"{os.path.basename(copy)}: {context.findtext('name')}: {source!r}")
print("\n".join(problems) or f"{len(catalogs)} catalogs complete")
sys.exit(1 if problems else 0)

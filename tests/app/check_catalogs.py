#!/usr/bin/env python3
# Every catalog is complete for the sources as they are now: lupdate, run on copies, finds no text
# without a translation (each plural form counted), and each translation keeps the source's
# placeholders, without which a name or a number would go missing from the sentence.
#   check_catalogs.py LUPDATE CATALOG... -- LUPDATE_ARGUMENTS...
import re, shutil, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

split = sys.argv.index("--")
marks = lambda text: sorted(set(re.findall(r"%(?:n|\d)", text or "")))
problems = []
with tempfile.TemporaryDirectory() as scratch:
    copies = [shutil.copy(catalog, scratch) for catalog in sys.argv[2:split]]
    subprocess.run([sys.argv[1], *sys.argv[split + 1:], "-ts", *copies], check=True, stdout=subprocess.DEVNULL)
    for copy in copies:
        for message in ET.parse(copy).getroot().iter("message"):
            translation = message.find("translation")
            forms = translation.findall("numerusform") or [translation]
            if translation.get("type") or any(not f.text or marks(f.text) != marks(message.findtext("source")) for f in forms):
                problems.append(f"{copy.rsplit('/', 1)[-1]}: {message.findtext('source')!r}")
print("\n".join(problems) or "catalogs complete")
sys.exit(1 if problems else 0)

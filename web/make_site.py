#!/usr/bin/env python3
"""Writes the pages of the static site from programs.json (the build's copy,
with each program's title): index.html with every program, one page per
program, the page script and style, and the pictures the index shows. The
programs' .wasm files and the glyph atlas are put there by the build.

    make_site.py --programs FILE --templates DIR --pictures DIR --atlas FILE --site DIR
"""

import argparse
import hashlib
import html
import json
import os
import shutil
import string

CARD = """<li>
<a href="$name.html"><img src="pictures/$picture" width="320" height="240" alt="$name: $gloss"></a>
<h2><a href="$name.html" lang="ja">$title</a></h2>
<p><code>$name</code>, “$gloss”</p>
<p>$summary</p>
<p class="keys">Keys: $keys</p>
</li>"""


def main():
    parser = argparse.ArgumentParser()
    for option in ("--programs", "--templates", "--pictures", "--atlas", "--site"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    with open(options.programs, encoding="utf-8") as file:
        programs = json.load(file)["programs"]
    with open(options.atlas, "rb") as file:
        version = hashlib.sha256(file.read()).hexdigest()[:16]
    # The version in the address: a browser that cached another atlas fetches this one.
    atlas = f"{os.path.basename(options.atlas)}?v={version}"

    def template(name):
        with open(os.path.join(options.templates, name), encoding="utf-8") as file:
            return string.Template(file.read())

    def write(name, text):
        with open(os.path.join(options.site, name), "w", encoding="utf-8") as file:
            file.write(text)

    os.makedirs(os.path.join(options.site, "pictures"), exist_ok=True)
    page = template("program.html")
    cards = []
    for program in programs:
        fields = {key: html.escape(str(program[key]))
                  for key in ("name", "title", "gloss", "keys", "summary", "picture")}
        fields["atlas"] = html.escape(atlas)
        write(f"{program['name']}.html", page.substitute(fields))
        cards.append(string.Template(CARD).substitute(fields))
        shutil.copyfile(os.path.join(options.pictures, program["picture"]),
                        os.path.join(options.site, "pictures", program["picture"]))
    write("index.html", template("index.html").substitute(programs="\n".join(cards)))
    for name in ("tovalinex.js", "tovalinex.css"):
        shutil.copyfile(os.path.join(options.templates, name), os.path.join(options.site, name))


if __name__ == "__main__":
    main()

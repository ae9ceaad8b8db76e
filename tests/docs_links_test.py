"""Every relative link of the README and the pages in docs/ (and examples/) leads somewhere: to a
file of the tree, and where it names a heading of a page (#anchor), to a heading there."""
import re
import sys
from pathlib import Path

root = Path(sys.argv[1])
pages = [root / "README.md", root / "examples" / "README.md", *sorted((root / "docs").glob("*.md"))]
link = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")


def anchors(page):
    """The anchors of a page's headings, as the usual Markdown renderers make them."""
    found = set()
    for line in page.read_text(encoding="utf-8").splitlines():
        if line.startswith("#"):
            title = line.lstrip("#").strip().lower()
            found.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return found


broken = []
for page in pages:
    text = re.sub(r"```.*?```", "", page.read_text(encoding="utf-8"), flags=re.S)
    for target in link.findall(text):
        if re.match(r"[a-z]+:", target):
            continue
        path, _, anchor = target.partition("#")
        goal = (page.parent / path).resolve() if path else page
        if not goal.exists():
            broken.append(f"{page.relative_to(root)}: {target}: no such file")
        elif anchor and goal.suffix == ".md" and anchor not in anchors(goal):
            broken.append(f"{page.relative_to(root)}: {target}: no such heading")
for line in broken:
    print(line)
print(f"{len(pages)} pages, {len(broken)} broken links")
sys.exit(1 if broken else 0)

"""Prints the folder where this Python finds packages installed under the prefix given, for
cmake --install: one of its own folders that lies in PREFIX/lib, else the usual
PREFIX/lib/pythonX.Y/site-packages (which the installed tools look in too).

  python3 site_dir.py PREFIX
"""

import os
import sys

prefix = os.path.realpath(sys.argv[1])
for folder in sys.path:
    if folder.endswith(("site-packages", "dist-packages")):
        inside = os.path.relpath(os.path.realpath(folder), prefix)
        if inside.startswith("lib" + os.sep):
            print(os.path.join(prefix, inside))
            break
else:
    print(os.path.join(prefix, "lib", "python%d.%d" % sys.version_info[:2], "site-packages"))

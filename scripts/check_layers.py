#!/usr/bin/env python3
"""Checks the layering of the libraries under src/.

Each library folder (a folder under src/ with a README.md and a CMakeLists.txt that
declares one varnex2_library) states in its README a line

    May depend on: `config`, `platform`, `Qt`.

The backticked words are the folders (relative to src/) its files may include, and the
outside libraries it may use: `Qt`, `Boost`, `libusb`, `hidapi`, `libudev`, `umockdev`.
A folder without `Qt` is Qt-free. The check fails on
  - an include of another folder's header that the README does not allow;
  - a Qt include in a Qt-free folder, or an outside library's include the README does
    not name;
  - an include of a folder or an outside library that the folder's library does not
    link (directly or through the public links of what it links).
Usage: check_layers.py [SOURCE_DIR]; exit status 1 with one line per fault.
"""

import os
import re
import sys

OUTSIDE = {
    # token: (include pattern, link targets that provide it)
    "Qt": (re.compile(r"^Q[A-Za-z]+$|^Qt[A-Za-z]+/"), {"Qt6::Core", "Qt6::Gui", "Qt6::Widgets", "Qt6::Network",
                                                         "Qt6::SerialPort"}),
    "Boost": (re.compile(r"^boost/"), {"Boost::serialization", "Boost::regex", "Boost::headers"}),
    "libusb": (re.compile(r"^libusb"), {"PkgConfig::LIBUSB"}),
    "hidapi": (re.compile(r"^hidapi"), {"PkgConfig::HIDAPI"}),
    "libudev": (re.compile(r"^libudev"), {"PkgConfig::UDEV"}),
    "umockdev": (re.compile(r"^umockdev"), {"PkgConfig::UMOCKDEV"}),
    "xkbcommon": (re.compile(r"^xkbcommon/"), {"PkgConfig::XKBCOMMON"}),
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
LIBRARY = re.compile(r"varnex2_library\(\s*(\w+)(.*?)\)", re.S)
LINKS = re.compile(r"target_link_libraries\(\s*(\w+)\s+(.*?)\)", re.S)
ALLOWED = re.compile(r"^May depend on:(.*?)(?:\n\s*\n|\Z)", re.M | re.S)


def library_folders(src):
    folders = {}
    for root, _dirs, files in os.walk(src):
        if "README.md" in files and "CMakeLists.txt" in files:
            folders[os.path.relpath(root, src).replace(os.sep, "/")] = root
    return folders


def cmake_variables(text):
    variables = {}
    for m in re.finditer(r"set\(\s*(\w+)\s+([^)]*)\)", text):
        variables[m.group(1)] = m.group(2).split()
    return variables


def expand(words, variables):
    out = []
    for w in words:
        m = re.fullmatch(r"\$\{(\w+)\}", w)
        out.extend(variables.get(m.group(1), []) if m else [w])
    return out


def read_links(folders):
    """The folder's main library, the library of each file listed in another library's
    sources, and every library's (public, all) links, from the folders' CMake files."""
    libs, owners, public, links = {}, {}, {}, {}
    for folder, root in folders.items():
        text = ""
        for name in sorted(os.listdir(root)):
            if name == "CMakeLists.txt" or name.endswith(".cmake"):
                with open(os.path.join(root, name), encoding="utf-8") as f:
                    text += f.read() + "\n"
        text = re.sub(r"#[^\n]*", "", text)
        variables = cmake_variables(text)
        for index, m in enumerate(LIBRARY.finditer(text)):
            name = m.group(1)
            if index == 0:
                libs[folder] = name
            words = expand(m.group(2).split(), variables)
            mode, pub, allw = None, set(), set()
            for w in words:
                if w in ("SOURCES", "PUBLIC_LINKS", "PRIVATE_LINKS"):
                    mode = w
                elif mode == "SOURCES" and index > 0:
                    owners[(folder, os.path.basename(w))] = name
                elif mode == "PUBLIC_LINKS":
                    pub.add(w)
                    allw.add(w)
                elif mode == "PRIVATE_LINKS":
                    allw.add(w)
            for lm in LINKS.finditer(text):
                if lm.group(1) != name:
                    continue
                mode = "PUBLIC"
                for w in expand(lm.group(2).split(), variables):
                    if w in ("PUBLIC", "PRIVATE", "INTERFACE"):
                        mode = w
                    else:
                        allw.add(w)
                        if mode != "PRIVATE":
                            pub.add(w)
            public[name], links[name] = pub, allw
    return libs, owners, public, links


def reachable(name, public, links):
    seen, todo = set(), list(links.get(name, ()))
    while todo:
        t = todo.pop()
        if t in seen:
            continue
        seen.add(t)
        todo.extend(public.get(t, ()))
    return seen


def folder_of(path, folders):
    best = None
    for folder in folders:
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best)):
            best = folder
    return best


def main():
    top = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    src = os.path.join(top, "src")
    folders = library_folders(src)
    libs, owners, public, links = read_links(folders)
    faults = []
    for folder, root in sorted(folders.items()):
        with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        m = ALLOWED.search(readme)
        if not m:
            faults.append(f"src/{folder}/README.md: no 'May depend on:' line")
            continue
        allowed = set(re.findall(r"`([^`]+)`", m.group(1)))
        lib = libs.get(folder)
        if lib is None:
            faults.append(f"src/{folder}: no varnex2_library in its CMake files")
            continue
        for name in sorted(os.listdir(root)):
            if not name.endswith((".h", ".cpp")):
                continue
            own = owners.get((folder, name), lib)
            linked = reachable(own, public, links)
            rel = f"src/{folder}/{name}"
            with open(os.path.join(root, name), encoding="utf-8") as f:
                text = f.read()
            for im in INCLUDE.finditer(text):
                kind, inc = im.group(1), im.group(2)
                line = text.count("\n", 0, im.start()) + 1
                where = f"{rel}:{line}: #include {'<' if kind == '<' else chr(34)}{inc}{'>' if kind == '<' else chr(34)}"
                target = folder_of(inc, folders) if kind == '"' else None
                if target is not None:
                    if target == folder:
                        continue
                    if target not in allowed:
                        faults.append(f"{where}: {folder} may not depend on {target}")
                    elif libs.get(target) not in linked:
                        faults.append(f"{where}: {own} does not link {libs.get(target)}")
                    continue
                for token, (pattern, providers) in OUTSIDE.items():
                    if pattern.search(inc):
                        if token not in allowed:
                            kind_text = "Qt-free" if token == "Qt" else f"not allowed {token}"
                            faults.append(f"{where}: {folder} is {kind_text}")
                        elif not (providers & linked):
                            faults.append(f"{where}: {own} does not link {token}")
                        break
    for fault in faults:
        print(fault)
    if faults:
        print(f"layer check: {len(faults)} fault(s)", file=sys.stderr)
        return 1
    print(f"layer check: {len(folders)} libraries, no faults")
    return 0


if __name__ == "__main__":
    sys.exit(main())

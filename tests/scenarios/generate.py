#!/usr/bin/env python3
"""Writes the large scenario folders: damaged class trees of a few hundred
keys for each supported edition, and a tree as deep as the registry allows.

The expected after-image is computed here by a small model of the reset of
its own (owner BA, group SY, the edition's baseline protected on the root,
every other key exactly what it inherits from its parent), independent of the
tool and of the simulated machine, so that the scenario compares two
separate computations. The output is deterministic: every random choice comes
from a generator seeded per folder.

    python3 tests/scenarios/generate.py      # rewrites the folders below
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = "SOFTWARE\\Classes"

# ---------------------------------------------------------------- security model

GENERIC_READ, GENERIC_WRITE, GENERIC_EXECUTE, GENERIC_ALL = 0x80000000, 0x40000000, 0x20000000, 0x10000000
GENERIC = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL
KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS = 0x20019, 0x20006, 0x20019, 0xF003F
DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER = 0x10000, 0x20000, 0x40000, 0x80000

RIGHT_CODES = [("GA", GENERIC_ALL), ("GR", GENERIC_READ), ("GW", GENERIC_WRITE), ("GX", GENERIC_EXECUTE),
               ("SD", DELETE), ("RC", READ_CONTROL), ("WD", WRITE_DAC), ("WO", WRITE_OWNER)]
EXACT_KEY_RIGHTS = [("KA", KEY_ALL_ACCESS), ("KR", KEY_READ), ("KW", KEY_WRITE)]
FLAG_ORDER = ["OI", "CI", "NP", "IO", "ID"]


class Ace:
    def __init__(self, kind, flags, mask, sid):
        self.kind = kind          # "A" or "D"
        self.flags = set(flags)   # subset of FLAG_ORDER
        self.mask = mask
        self.sid = sid            # an SDDL alias or "S-1-..."

    def text(self):
        flags = "".join(f for f in FLAG_ORDER if f in self.flags)
        return "(%s;%s;%s;;;%s)" % (self.kind, flags, rights_text(self.mask), self.sid)


def rights_text(mask):
    for code, value in EXACT_KEY_RIGHTS:
        if mask == value:
            return code
    if mask and not mask & ~sum(v for _, v in RIGHT_CODES):
        return "".join(code for code, value in RIGHT_CODES if mask & value)
    return "0x%x" % mask


def map_generic(mask):
    mapped = mask & ~GENERIC
    for generic, specific in ((GENERIC_READ, KEY_READ), (GENERIC_WRITE, KEY_WRITE),
                              (GENERIC_EXECUTE, KEY_EXECUTE), (GENERIC_ALL, KEY_ALL_ACCESS)):
        if mask & generic:
            mapped |= specific
    return mapped


def inherited(parent_aces, owner, group):
    """The entries a key with `owner` and `group` inherits from a parent
    container whose DACL holds `parent_aces`."""
    result = []
    for ace in parent_aces:
        if "CI" not in ace.flags:
            # Meant for objects that are no containers: carried on unused, unless it stops here.
            if "OI" in ace.flags and "NP" not in ace.flags:
                result.append(Ace(ace.kind, ace.flags | {"IO", "ID"}, ace.mask, ace.sid))
            continue
        creator = ace.sid in ("CO", "CG")
        sid = {"CO": owner, "CG": group}.get(ace.sid, ace.sid)
        if "NP" in ace.flags:
            result.append(Ace(ace.kind, {"ID"}, map_generic(ace.mask), sid))
        elif ace.mask & GENERIC or creator:
            result.append(Ace(ace.kind, {"ID"}, map_generic(ace.mask), sid))
            result.append(Ace(ace.kind, ace.flags | {"IO", "ID"}, ace.mask, ace.sid))
        else:
            result.append(Ace(ace.kind, (ace.flags - {"IO"}) | {"ID"}, ace.mask, ace.sid))
    return result


def parse_aces(text):
    aces = []
    for part in text.strip("()").split(")("):
        kind, flags, rights, _, _, sid = part.split(";")
        mask = 0
        for i in range(0, len(rights), 2):
            mask |= dict(RIGHT_CODES)[rights[i:i + 2]]
        aces.append(Ace(kind, [flags[i:i + 2] for i in range(0, len(flags), 2)], mask, sid))
    return aces


# The baselines each edition installs on the root, as the tool's users know them.
BASELINES = {
    "2000-professional": "(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)(A;CI;GR;;;WD)",
    "xp-home": "(A;CI;GR;;;BU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)",
    "xp-professional": "(A;CI;GR;;;BU)(A;CI;GRGWSD;;;PU)(A;CI;GA;;;BA)(A;CI;GA;;;SY)(A;CIIO;GA;;;CO)",
}

VERSIONS = {
    "2000-professional": dict(minor=0, build=2195, csd="Service Pack 4", sp=4, suite=0x0000),
    "xp-home": dict(minor=1, build=2600, csd="Service Pack 2", sp=2, suite=0x0300),
    "xp-professional": dict(minor=1, build=2600, csd="Service Pack 3", sp=3, suite=0x0100),
}


def expected_tree(paths, edition):
    """Path -> SDDL after a complete reset, for every key of the class tree."""
    root_aces = parse_aces(BASELINES[edition])
    dacls = {ROOT: root_aces}
    result = {ROOT: "O:BAG:SYD:PAI" + "".join(a.text() for a in root_aces)}
    for path in paths:  # parents come before their children
        if path == ROOT or not path.startswith(ROOT + "\\"):
            continue
        parent = path.rsplit("\\", 1)[0]
        dacls[path] = inherited(dacls[parent], "BA", "SY")
        result[path] = "O:BAG:SYD:AI" + "".join(a.text() for a in dacls[path])
    return result


# ---------------------------------------------------------------- key order

def fold(name):
    """Key names as the registry orders them: case folded, by UTF-16 unit.
    Names outside Latin-1 here use scripts without lower case, so no table
    beyond Latin-1 is needed."""
    units = []
    for ch in name:
        c = ord(ch)
        if ord("a") <= c <= ord("z") or (0xE0 <= c <= 0xFE and c != 0xF7):
            c -= 0x20
        elif c == 0xFF:
            c = 0x178
        assert ord(ch) <= 0xFF or not ch.isalpha() or ch == ch.upper(), "name would need a case table: " + name
        units.append(c)
    return units


def enumeration_order(paths):
    children = {}
    for path in paths:
        parent = path.rsplit("\\", 1)[0] if "\\" in path else ""
        children.setdefault(parent, []).append(path)
    ordered = []
    pending = [""]
    while pending:
        path = pending.pop()
        if path:
            ordered.append(path)
        kids = sorted(children.get(path, []), key=lambda p: fold(p.rsplit("\\", 1)[-1]))
        pending.extend(reversed(kids))
    return ordered


# ---------------------------------------------------------------- damage

FOREIGN_USERS = ["S-1-5-21-1004336348-1177238915-682003330-1003",
                 "S-1-5-21-1004336348-1177238915-682003330-1004",
                 "S-1-5-21-2025429265-507921405-1202660629-1109"]
FOREIGN_GROUPS = ["S-1-5-21-1004336348-1177238915-682003330-513", "BU", "PU", "S-1-5-32-555"]


def damaged_descriptor(rnd, kind):
    user = rnd.choice(FOREIGN_USERS)
    owner = "BA"
    group = "SY"
    if kind in ("foreign-owner", "locked", "empty", "null"):
        owner = user
    if kind in ("foreign-group", "locked", "null"):
        group = rnd.choice(FOREIGN_GROUPS)
    dacl = {
        "foreign-owner": "AI(A;ID;KA;;;BA)(A;CIIOID;GA;;;BA)",
        "foreign-group": "AI(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)",
        "protected": "P(A;CI;KA;;;%s)(A;CI;KR;;;WD)" % user,
        "deny": "AI(D;;KA;;;WD)(A;ID;KA;;;BA)",
        "explicit-beside-inherited": "AI(A;CI;KA;;;%s)(A;;SDWD;;;AU)(A;ID;KR;;;BU)(A;CIIOID;GR;;;BU)" % user,
        "stale-inherited": "AI(A;ID;KA;;;WD)(A;CIIOID;GA;;;WD)(A;NPID;KR;;;%s)" % user,
        "null": "NO_ACCESS_CONTROL",
        "empty": rnd.choice(["", "P"]),
        "locked": "P(D;CI;KA;;;WD)",
        "object-inherit": "AI(A;OICI;KA;;;%s)(A;OIIO;GA;;;CO)" % user,
    }[kind]
    return "O:%sG:%sD:%s" % (owner, group, dacl)


DAMAGE = ["foreign-owner", "foreign-group", "protected", "deny", "explicit-beside-inherited",
          "stale-inherited", "null", "empty", "locked", "object-inherit", "intact"]

# Names of the kinds the class tree holds: extensions, ProgIDs with dots,
# CLSID GUIDs, names with blanks, with '=' and with letters beyond ASCII.
EXTENSIONS = [".txt", ".doc", ".rtf", ".htm", ".html", ".xml", ".jpg", ".bmp", ".zip", ".lnk", ".url",
              ".résumé", ".ini"]
PROGIDS = ["txtfile", "Word.Document.8", "htmlfile", "xmlfile", "jpegfile", "Paint.Picture",
           "CompressedFolder", "lnkfile", "InternetShortcut", "inifile", "Shell.Application.1",
           "Ünicode Text Document", "Année.Fichier", "文書ファイル", "ДОКУМЕНТ"]
VERBS = ["shell", "ShellEx", "DefaultIcon", "CLSID", "ShellNew", "OpenWithList"]
LEAVES = ["open", "print", "edit", "command", "ddeexec", "Application", "Topic", "printto",
          "Open With Notepad", "{00021500-0000-0000-C000-000000000046}", "a=b", "Ñandú", "ÿ"]


def guid(rnd):
    return "{%08X-%04X-%04X-%04X-%012X}" % (rnd.getrandbits(32), rnd.getrandbits(16), rnd.getrandbits(16),
                                         rnd.getrandbits(16), rnd.getrandbits(48))


def build_class_tree(rnd):
    paths = [ROOT]

    def add(parent, names, depth):
        for name in names:
            path = parent + "\\" + name
            paths.append(path)
            if depth < 6 and rnd.random() < 0.55 - depth * 0.07:
                kids = rnd.sample(VERBS + LEAVES, rnd.randint(1, 4))
                add(path, kids, depth + 1)

    add(ROOT, EXTENSIONS + PROGIDS, 1)
    paths.append(ROOT + "\\CLSID")
    for _ in range(40):
        clsid = ROOT + "\\CLSID\\" + guid(rnd)
        paths.append(clsid)
        for sub in rnd.sample(["InprocServer32", "LocalServer32", "ProgID", "TypeLib", "Implemented Categories",
                               "Version", "VersionIndependentProgID"], rnd.randint(1, 3)):
            paths.append(clsid + "\\" + sub)
            if sub == "Implemented Categories":
                paths.append(clsid + "\\" + sub + "\\" + guid(rnd))
    paths.append(ROOT + "\\Interface")
    for _ in range(15):
        interface = ROOT + "\\Interface\\" + guid(rnd)
        paths.append(interface)
        paths.append(interface + "\\ProxyStubClsid32")
    return paths


# ---------------------------------------------------------------- images

ADMIN_TOKEN = """[token]
user = S-1-5-21-1004336348-1177238915-682003330-500
group = S-1-5-32-544 mandatory enabled default owner
group = S-1-1-0 mandatory enabled default
group = S-1-5-32-545 mandatory enabled default
group = S-1-5-11 mandatory enabled default
privilege = SeChangeNotifyPrivilege enabled default
privilege = SeTakeOwnershipPrivilege disabled
privilege = SeBackupPrivilege disabled
privilege = SeRestorePrivilege disabled
privilege = SeShutdownPrivilege disabled
"""

# Keys beside the class tree, canonical already, which the run must not touch.
OUTSIDE = [
    ("SOFTWARE", "O:BAG:SYD:PAI(A;CI;KR;;;BU)(A;CIIO;GA;;;CO)(A;CI;KA;;;BA)(A;CI;KA;;;SY)"),
    ("SOFTWARE\\ClassesBackup", "O:S-1-5-21-1004336348-1177238915-682003330-1004G:BUD:P(D;CI;KA;;;WD)"),
    ("SOFTWARE\\Microsoft", "O:S-1-5-21-1004336348-1177238915-682003330-1003G:SYD:P(A;CI;KR;;;WD)(A;;KA;;;S-1-5-21-1004336348-1177238915-682003330-1003)"),
    ("SOFTWARE\\Microsoft\\Windows", "O:BAG:SYD:NO_ACCESS_CONTROL"),
]


def version_section(edition):
    v = VERSIONS[edition]
    return ("[version]\nplatform-id = 2\nmajor = 5\nminor = %d\nbuild = %d\ncsd-version = %s\n"
            "service-pack-major = %d\nservice-pack-minor = 0\nsuite-mask = 0x%04X\nproduct-type = 1\n"
            % (v["minor"], v["build"], v["csd"], v["sp"], v["suite"]))


def write_scenario(folder, comment, edition, before, outside):
    """`before`: (path, SDDL) of the class tree, parents first, in any order."""
    class_paths = [p for p, _ in before]
    all_before = dict(outside + before)
    order = enumeration_order(list(all_before))
    after = dict(all_before)
    after.update(expected_tree(order, edition))
    head = version_section(edition) + "\n" + ADMIN_TOKEN + "\n[registry]\n"
    lines_before = "".join("%s = %s\n" % kv for kv in outside + before)
    lines_after = "".join("%s = %s\n" % (p, after[p]) for p in order)
    assert set(class_paths) <= set(order)
    directory = os.path.join(HERE, folder)
    os.makedirs(directory, exist_ok=True)
    banner = "".join("# " + line + "\n" for line in comment.strip().splitlines())
    files = {
        "before.image": banner + "# Written by tests/scenarios/generate.py.\n" + head + lines_before,
        "after.image": "# tessaroot machine image\n" + head + lines_after,
        "stderr.txt": "",
        "exit-status": "0x00000000\n",
    }
    for name, text in files.items():
        with open(os.path.join(directory, name), "w", encoding="utf-8", newline="\n") as out:
            out.write(text)


def ancestors(path):
    """`path` and every key above it in the class tree, from the root down."""
    parts = path[len(ROOT):].split("\\")[1:]
    return [ROOT] + [ROOT + "\\" + "\\".join(parts[:i]) for i in range(1, len(parts) + 1)]


def damaged_tree(edition, seed):
    rnd = random.Random(seed)
    paths = build_class_tree(rnd)
    before = []
    for index, path in enumerate(paths):
        kind = DAMAGE[index % len(DAMAGE)] if index < len(DAMAGE) else rnd.choice(DAMAGE)
        if kind == "intact":
            # Already as the reset leaves it: the run must rewrite it unchanged.
            sddl = expected_tree(ancestors(path), edition)[path]
        else:
            sddl = damaged_descriptor(rnd, kind)
        before.append((path, sddl))
    # Written parents first but not in enumeration order, so that the order of
    # the after-image is the machine's own.
    depth_first = sorted(before, key=lambda kv: (kv[0].count("\\"), rnd.random()))
    return depth_first


def main():
    names = {"xp-professional": "Windows XP Professional", "xp-home": "Windows XP Home Edition",
             "2000-professional": "Windows 2000 Professional"}
    for seed, edition in enumerate(["xp-professional", "xp-home", "2000-professional"], start=1):
        before = damaged_tree(edition, seed)
        write_scenario("damaged-tree-" + edition, """
A %s class tree of %d keys, damaged in every way a key can be: foreign owners
and groups, protected DACLs, deny entries, explicit entries beside inherited
ones, stale inherited entries, null and empty DACLs, keys locked against
everyone. Keys beside the tree (SOFTWARE\\ClassesBackup, SOFTWARE\\Microsoft)
stay as they are.""" % (names[edition], len(before)), edition, before, OUTSIDE)

    rnd = random.Random(512)
    deep = [ROOT]
    while deep[-1].count("\\") + 1 < 512:
        deep.append(deep[-1] + "\\k")
    before = [(path, damaged_descriptor(rnd, rnd.choice(DAMAGE[:-1]))) for path in deep]
    write_scenario("deepest-tree-512-levels", """
A chain of keys 512 levels deep below HKEY_LOCAL_MACHINE, the deepest the
registry allows, each damaged: the walk recurses to the bottom and resets
every level.""", "xp-professional", before, OUTSIDE[:1])


if __name__ == "__main__":
    main()

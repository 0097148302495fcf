"""Paths inside a Wine prefix, found as Windows finds them.

Windows names are not case-sensitive, the Unix folders of a prefix are: a
test that makes `syswow64/drivers` where Wine already has
`syswow64/Drivers` gives the prefix two folders that Windows cannot have,
and which of them a program then reaches depends on how it spells the
name. Each part of the path is matched against what exists, ignoring
case, as Wine does; a part that does not exist yet keeps its spelling.
"""

import os


def host_path(prefix, windows_path):
    """The Unix path of a path on drive C: of the prefix, such as
    r"windows\\syswow64\\drivers\\VelDrv101.sys"."""
    path = os.path.join(prefix, "drive_c")
    for part in windows_path.replace("/", "\\").split("\\"):
        if not part:
            continue
        existing = os.listdir(path) if os.path.isdir(path) else []
        exact = part if part in existing else None
        same = [name for name in existing if name.lower() == part.lower()]
        path = os.path.join(path, exact or (same[0] if same else part))
    return path

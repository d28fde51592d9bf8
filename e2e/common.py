"""What every part of the runner shares: the rig's places, the outcomes of
a scenario, and the bytes and paths that cross into Wine."""
import datetime
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
E2E_DIR = os.environ.get("E2E_DIR", os.path.join(ROOT, "build-e2e"))
WIN32_BUILD = os.environ.get("QA_WIN32_BUILD", os.path.join(ROOT, "build-win32"))
NATIVE_BUILD = os.environ.get("QA_NATIVE_BUILD", os.path.join(ROOT, "build"))
# tools/try-update from a release names the programs it ships.
QA2 = os.environ.get("QA2") or os.path.join(NATIVE_BUILD, "tools", "qa2")
QA2_EXE = os.environ.get("QA2_EXE") or os.path.join(WIN32_BUILD, "tools", "qa2.exe")
PREFIX = os.environ["WINEPREFIX"]
SHOTS = os.environ.get("E2E_SHOTS") or os.path.join(E2E_DIR, "screenshots")


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def cp932(text):
    return text.encode("cp932")


def show(data):
    """Bytes as the player reads them, for the transcript."""
    return data.decode("cp932", errors="backslashreplace").replace("\r", "\\r").replace("\n", "\\n")


def unhex(word):
    return b"" if word == "-" else bytes.fromhex(word)


def hexify(data):
    return data.hex() if data else "-"


def linux_path(win_path):
    """Follows the prefix's drive links, as Wine does."""
    drive, rest = win_path[0].lower(), win_path[2:].lstrip("\\")
    base = os.path.realpath(os.path.join(PREFIX, "dosdevices", drive + ":"))
    return os.path.join(base, *[p for p in rest.split("\\") if p])


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stamp(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + "Z"

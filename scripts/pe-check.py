#!/usr/bin/env python3
"""Reads UPDATE.EXEs with python3-pefile, a reader independent of ours.

  pe-check.py EXE...

Checks for each file: pefile parses it without warnings, the checksum
matches, SizeOfImage covers the last section, every resource directory is
ordered as the system's binary search needs (named entries first, names
compared as capitals, then ids ascending), and "UPDATE" 102 (language 1041)
holds an archive ("QA2\\0"). Prints the resources; exit 1 on a fault.
"""
import sys

import pefile


def key_errors(directory, path):
    faults = []
    entries = directory.entries
    named = [e for e in entries if e.name is not None]
    ids = [e for e in entries if e.name is None]
    if entries != named + ids:
        faults.append("%s: an id entry before a named one" % path)
    names = [str(e.name).upper() for e in named]
    if names != sorted(names) or len(set(names)) != len(names):
        faults.append("%s: named entries out of order: %s" % (path, names))
    numbers = [e.id for e in ids]
    if numbers != sorted(numbers) or len(set(numbers)) != len(numbers):
        faults.append("%s: id entries out of order: %s" % (path, numbers))
    for e in entries:
        if hasattr(e, "directory"):
            label = str(e.name) if e.name is not None else str(e.id)
            faults.extend(key_errors(e.directory, path + "/" + label))
    return faults


def check(path):
    pe = pefile.PE(path)
    faults = ["pefile: " + w for w in pe.get_warnings()]
    if not pe.verify_checksum():
        faults.append("checksum %08x, computed %08x" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()))
    align = pe.OPTIONAL_HEADER.SectionAlignment
    last = max(pe.sections, key=lambda s: s.VirtualAddress)
    end = last.VirtualAddress + max(last.Misc_VirtualSize, last.SizeOfRawData)
    if pe.OPTIONAL_HEADER.SizeOfImage != (end + align - 1) // align * align:
        faults.append("SizeOfImage %x, sections end at %x" % (pe.OPTIONAL_HEADER.SizeOfImage, end))
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return faults + ["no resources"]
    faults.extend(key_errors(pe.DIRECTORY_ENTRY_RESOURCE, "resources"))
    found = False
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        tname = str(t.name) if t.name is not None else str(t.id)
        for n in t.directory.entries:
            for lang in n.directory.entries:
                d = lang.data.struct
                print("  %s %s lang %d: %d bytes" % (tname, n.id, lang.id, d.Size))
                if tname == "UPDATE" and n.id == 102 and lang.id == 1041:
                    data = pe.get_data(d.OffsetToData, d.Size)
                    found = data[:4] == b"QA2\0"
    if not found:
        faults.append('no archive in "UPDATE" 102, language 1041')
    return faults


failed = False
for exe in sys.argv[1:]:
    print(exe)
    for fault in check(exe):
        print("  FAULT: " + fault)
        failed = True
sys.exit(1 if failed else 0)

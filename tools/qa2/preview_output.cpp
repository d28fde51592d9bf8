// qa2 preview's two forms: text for the author, JSON for other tools (the
// key names are fixed: "exit_code", "files" with "path", "writes", "action").
#include <cstdio>
#include <string>

#include "tools/qa2/preview.h"

namespace qa2 {
namespace {

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

// A box's or page's text on one line: its carriage returns shown as such.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

}  // namespace

std::string FormatPreviewText(const PreviewReport& r) {
  std::string out;
  out += std::string(kPreviewUnknowns) + ".\n";
  if (r.registryKey.empty()) {
    out += "registry: the updater stopped before it looked for the installation\n";
  } else {
    out += "registry: " + r.registryKey + "\n";
    out += "  InstPath = " + r.instPath + "  (" + r.instPathSource + ")\n";
    out += "  DataPath = " + r.dataPath + "  (" + r.dataPathSource + ")\n";
    out += "  InstMode = " + std::to_string(r.instMode) + "\n";
  }
  for (const PreviewMessage& m : r.messages) {
    if (m.kind == "box") out += "box [" + m.caption + "]: " + OneLine(m.text) + "\n";
    else out += "page: " + OneLine(m.text) + "\n";
  }
  if (!r.files.empty()) out += "files:\n";
  size_t width = 0;
  for (const PreviewFile& f : r.files) width = std::max(width, f.action.size());
  for (const PreviewFile& f : r.files) {
    out += "  " + f.action + std::string(width - f.action.size() + 1, ' ') +
           (f.target.empty() ? "(no path)" : f.target) + "  [" + f.entry + "]";
    if (!f.from.empty()) out += " from " + f.from;
    if (f.writes) out += ", " + std::to_string(f.bytes) + " bytes";
    out += "\n" + std::string(width + 3, ' ') + f.why + "\n";
  }
  for (const std::string& d : r.deletions) out += "deletes " + d + " (left by an interrupted run)\n";
  for (const PreviewReport::Attribute& a : r.attributes)
    out += "attributes " + a.path + ": " + Hex(a.from) + " -> " + Hex(a.to) + "\n";
  out += "bytes: " + std::to_string(r.bytesWritten) + " to write";
  if (r.requiredDiskSpace) out += ", RequiredDiskSpace " + std::to_string(*r.requiredDiskSpace);
  out += ", " + std::to_string(r.freeBytes) + " free on the installation's drive (" + r.freeSource + ")\n";
  if (!r.silentEnd.empty()) out += r.silentEnd + "\n";
  if (r.exitCode) {
    out += "exit code: " + std::to_string(*r.exitCode) + "\n";
  } else if (r.waits == "space") {
    out += "exit code: none yet: the disk-space page waits for the player (戻る after making room, or 中止)\n";
  } else {
    out += "exit code: none yet: the run waits for the player to insert the disc\n";
  }
  return out;
}

std::string FormatPreviewJson(const PreviewReport& r) {
  std::string out = "{\n";
  out += "  \"exit_code\": " + (r.exitCode ? std::to_string(*r.exitCode) : std::string("null")) + ",\n";
  out += "  \"waits\": " + (r.waits.empty() ? std::string("null") : Quote(r.waits)) + ",\n";
  out += "  \"silent_end\": " + (r.silentEnd.empty() ? std::string("null") : Quote(r.silentEnd)) + ",\n";
  out += "  \"unknown\": " + Quote(kPreviewUnknowns) + ",\n";
  if (r.registryKey.empty()) {
    out += "  \"registry\": null,\n";
  } else {
    out += "  \"registry\": {\"key\": " + Quote(r.registryKey) + ", \"InstPath\": " + Quote(r.instPath) +
           ", \"DataPath\": " + Quote(r.dataPath) + ", \"InstMode\": " + std::to_string(r.instMode) + "},\n";
  }
  out += "  \"messages\": [";
  for (size_t i = 0; i < r.messages.size(); ++i) {
    const PreviewMessage& m = r.messages[i];
    out += std::string(i ? "," : "") + "\n    {\"kind\": " + Quote(m.kind);
    if (m.kind == "box") out += ", \"caption\": " + Quote(m.caption);
    out += ", \"text\": " + Quote(m.text) + "}";
  }
  out += r.messages.empty() ? "],\n" : "\n  ],\n";
  out += "  \"files\": [";
  for (size_t i = 0; i < r.files.size(); ++i) {
    const PreviewFile& f = r.files[i];
    out += std::string(i ? "," : "") + "\n    {\"path\": " + (f.path.empty() ? "null" : Quote(f.path)) +
           ", \"writes\": " + (f.writes ? "true" : "false") + ", \"action\": " + Quote(f.action) +
           ", \"target\": " + Quote(f.target) + ", \"entry\": " + Quote(f.entry);
    if (!f.from.empty()) out += ", \"from\": " + Quote(f.from);
    if (f.writes) out += ", \"bytes\": " + std::to_string(f.bytes);
    out += ", \"why\": " + Quote(f.why) + "}";
  }
  out += r.files.empty() ? "],\n" : "\n  ],\n";
  out += "  \"deletions\": [";
  for (size_t i = 0; i < r.deletions.size(); ++i) out += (i ? ", " : "") + Quote(r.deletions[i]);
  out += "],\n  \"attributes\": [";
  for (size_t i = 0; i < r.attributes.size(); ++i)
    out += std::string(i ? ", " : "") + "{\"path\": " + Quote(r.attributes[i].path) +
           ", \"from\": " + std::to_string(r.attributes[i].from) + ", \"to\": " + std::to_string(r.attributes[i].to) + "}";
  out += "],\n  \"bytes\": {\"write\": " + std::to_string(r.bytesWritten) + ", \"free\": " +
         std::to_string(r.freeBytes) + ", \"required\": " +
         (r.requiredDiskSpace ? std::to_string(*r.requiredDiskSpace) : std::string("null")) + "}\n}\n";
  return out;
}

}  // namespace qa2

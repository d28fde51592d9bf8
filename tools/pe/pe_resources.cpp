#include "tools/pe/pe_resources.h"

#include <deque>
#include <unordered_map>

namespace pe {
namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kMaxDepth = 3;
// A tree that shares subdirectories could make the reader visit far more
// entries than the section holds; no real image comes near this.
constexpr size_t kMaxEntries = size_t(1) << 20;

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
  if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);  // full-width a-z
  return c;
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return !ResourceNameLess()(a, b) && !ResourceNameLess()(b, a);
}

// The resource section as the directory's offsets see it: from the resource
// directory's start to the end of its section's raw data.
class ResourceView {
 public:
  bool Open(const uint8_t* data, size_t size, const PeImage& image, std::string* why) {
    data_ = data;
    size_ = size;
    image_ = &image;
    const DataDirectory dir = image.directory(kDirResources);
    if (dir.rva == 0 || dir.size == 0) {
      *why = "no resources";
      return false;
    }
    const Section* s = image.SectionOfRva(dir.rva);
    size_t base = 0;
    if (!s || !image.RvaToOffset(dir.rva, 16, size, &base)) {
      *why = "resource directory lies outside the file";
      return false;
    }
    base_ = base;
    limit_ = size_t(s->rawOffset) + s->rawSize - base;
    if (limit_ > size - base) limit_ = size - base;
    return true;
  }

  // Header fields and the entry count of the directory at `offset`.
  bool Directory(uint32_t offset, ResourceNode* header, uint32_t* entries, std::string* why) const {
    if (offset > limit_ || limit_ - offset < 16) return Bad("directory", why);
    const uint8_t* p = data_ + base_ + offset;
    header->characteristics = Load32(p);
    header->timeDateStamp = Load32(p + 4);
    header->majorVersion = Load16(p + 8);
    header->minorVersion = Load16(p + 10);
    *entries = uint32_t(Load16(p + 12)) + Load16(p + 14);
    if (*entries > (limit_ - offset - 16) / 8) return Bad("directory's entries", why);
    return true;
  }
  void Entry(uint32_t directory, uint32_t index, uint32_t* name, uint32_t* target) const {
    const uint8_t* p = data_ + base_ + directory + 16 + size_t(index) * 8;
    *name = Load32(p);
    *target = Load32(p + 4);
  }
  bool Name(uint32_t offset, std::u16string* name, std::string* why) const {
    if (offset > limit_ || limit_ - offset < 2) return Bad("resource name", why);
    const uint8_t* p = data_ + base_ + offset;
    size_t length = Load16(p);
    if (length > (limit_ - offset - 2) / 2) return Bad("resource name", why);
    name->resize(length);
    for (size_t i = 0; i < length; ++i) (*name)[i] = char16_t(Load16(p + 2 + 2 * i));
    return true;
  }
  // The data entry at `offset`; its bytes must lie in the file.
  bool Data(uint32_t offset, FileSpan* span, uint32_t* codePage, uint32_t* reserved,
            std::string* why) const {
    if (offset > limit_ || limit_ - offset < 16) return Bad("data entry", why);
    const uint8_t* p = data_ + base_ + offset;
    uint32_t rva = Load32(p), size = Load32(p + 4);
    *codePage = Load32(p + 8);
    *reserved = Load32(p + 12);
    size_t at = 0;
    if (size == 0) {
      span->offset = 0;
    } else if (!image_->RvaToOffset(rva, size, size_, &at)) {
      return Bad("resource's data", why);
    }
    span->offset = at;
    span->size = size;
    return true;
  }

 private:
  static bool Bad(const char* what, std::string* why) {
    *why = std::string("resource directory is malformed: ") + what + " lies outside the resource section";
    return false;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  const PeImage* image_ = nullptr;
  size_t base_ = 0;
  size_t limit_ = 0;
};

struct TreeReader {
  const ResourceView& view;
  const uint8_t* data;
  size_t fileSize;
  size_t entriesSeen = 0;
  // Names and data copied so far. Entries may share a name or a datum, so a
  // small section could describe a tree of gigabytes; a real one never
  // holds more than its file.
  uint64_t bytesCopied = 0;

  bool Count(uint64_t bytes, std::string* why) {
    bytesCopied += bytes;
    if (bytesCopied <= fileSize) return true;
    *why = "resource directory is malformed: its names and data add up to more than the file holds";
    return false;
  }

  bool Read(uint32_t offset, int depth, ResourceNode* node, std::string* why) {
    uint32_t count = 0;
    if (!view.Directory(offset, node, &count, why)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      if (++entriesSeen > kMaxEntries) {
        *why = "resource directory is malformed: too many entries";
        return false;
      }
      uint32_t name = 0, target = 0;
      view.Entry(offset, i, &name, &target);
      ResourceNode child;
      if (target & kHighBit) {
        if (depth + 1 >= kMaxDepth) {
          *why = "resource directory is malformed: more than three levels";
          return false;
        }
        if (!Read(target & ~kHighBit, depth + 1, &child, why)) return false;
      } else {
        FileSpan span;
        if (!view.Data(target, &span, &child.codePage, &child.reserved, why)) return false;
        if (!Count(span.size, why)) return false;
        child.leaf = true;
        child.data.assign(data + span.offset, data + span.offset + span.size);
      }
      bool inserted;
      if (name & kHighBit) {
        std::u16string text;
        if (!view.Name(name & ~kHighBit, &text, why) || !Count(2 + 2 * uint64_t(text.size()), why)) return false;
        inserted = node->named.emplace(std::move(text), std::move(child)).second;
      } else {
        inserted = node->ids.emplace(uint16_t(name), std::move(child)).second;
      }
      if (!inserted) {
        *why = "resource directory is malformed: two entries with one name";
        return false;
      }
    }
    return true;
  }
};

}  // namespace

bool ResourceNameLess::operator()(const std::u16string& a, const std::u16string& b) const {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

bool FindNamedTypeResource(const uint8_t* data, size_t size, const PeImage& image,
                           const std::u16string& type, uint16_t id, FileSpan* span, std::string* why) {
  ResourceView view;
  if (!view.Open(data, size, image, why)) return false;
  // Linear scans: a hostile file's order is not trusted.
  constexpr uint32_t kAnyId = 0x10000;
  auto find = [&](uint32_t dir, bool named, uint32_t wantId, uint32_t* target) {
    ResourceNode header;
    uint32_t count = 0;
    if (!view.Directory(dir, &header, &count, why)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t name = 0, t = 0;
      view.Entry(dir, i, &name, &t);
      const bool isNamed = (name & kHighBit) != 0;
      if (named) {
        if (!isNamed) continue;
        std::u16string text;
        if (!view.Name(name & ~kHighBit, &text, why)) return false;
        if (!SameName(text, type)) continue;
      } else if (isNamed || (wantId != kAnyId && name != wantId)) {
        continue;
      }
      *target = t;
      return true;
    }
    why->clear();
    return false;
  };
  uint32_t typeDir = 0, nameDir = 0, language = 0;
  if (!find(0, true, 0, &typeDir) || !(typeDir & kHighBit) ||
      !find(typeDir & ~kHighBit, false, id, &nameDir) || !(nameDir & kHighBit) ||
      !find(nameDir & ~kHighBit, false, kAnyId, &language) || (language & kHighBit)) {
    if (why->empty()) *why = "no resource " + std::string(type.begin(), type.end()) + " " + std::to_string(id);
    return false;
  }
  uint32_t codePage = 0, reserved = 0;
  return view.Data(language, span, &codePage, &reserved, why);
}

bool ReadResourceTree(const uint8_t* data, size_t size, const PeImage& image, ResourceNode* root,
                      std::string* why) {
  *root = ResourceNode{};
  ResourceView view;
  if (!view.Open(data, size, image, why)) return false;
  TreeReader reader{view, data, size};
  return reader.Read(0, 0, root, why);
}

namespace {

// Where WriteResourceSection puts every table, data entry, name and datum,
// counted in 64 bits so that no tree, however large, wraps an offset.
struct SectionLayout {
  std::vector<const ResourceNode*> directories;  // breadth-first
  std::vector<const ResourceNode*> leaves;
  std::vector<const std::u16string*> names;
  std::unordered_map<const void*, uint64_t> offsetOf;
  std::vector<uint64_t> dataAt;
  uint64_t size = 0;
  bool countsFit = true;  // every directory's counts and name's length fit 16 bits
};

uint64_t Align8(uint64_t value) { return (value + 7) & ~uint64_t(7); }

void LayOut(const ResourceNode& root, SectionLayout* l) {
  l->directories.push_back(&root);
  for (size_t i = 0; i < l->directories.size(); ++i) {
    const ResourceNode* d = l->directories[i];
    if (d->named.size() > 0xFFFF || d->ids.size() > 0xFFFF) l->countsFit = false;
    auto visit = [&](const ResourceNode& child) {
      (child.leaf ? l->leaves : l->directories).push_back(&child);
    };
    for (const auto& e : d->named) {
      if (e.first.size() > 0xFFFF) l->countsFit = false;
      l->names.push_back(&e.first);
      visit(e.second);
    }
    for (const auto& e : d->ids) visit(e.second);
  }
  uint64_t at = 0;
  for (const ResourceNode* d : l->directories) {
    l->offsetOf[d] = at;
    at += 16 + 8 * uint64_t(d->named.size() + d->ids.size());
  }
  for (const ResourceNode* leaf : l->leaves) {
    l->offsetOf[leaf] = at;
    at += 16;
  }
  for (const std::u16string* n : l->names) {
    l->offsetOf[n] = at;
    at += 2 + 2 * uint64_t(n->size());
  }
  for (const ResourceNode* leaf : l->leaves) {
    at = Align8(at);
    l->dataAt.push_back(at);
    at += leaf->data.size() + leaf->externalSize;
  }
  l->size = Align8(at);
}

}  // namespace

bool MeasureResourceSection(const ResourceNode& root, uint64_t* size, std::string* why) {
  SectionLayout layout;
  LayOut(root, &layout);
  if (!layout.countsFit) {
    *why = "a resource directory holds more than 65535 entries of a kind, or a name more than 65535 units";
    return false;
  }
  *size = layout.size;
  return true;
}

std::vector<uint8_t> WriteResourceSection(const ResourceNode& root, uint32_t rva, uint64_t* holeOffset) {
  SectionLayout layout;
  LayOut(root, &layout);
  // Offsets are 31 bits in the format (the high bit marks a subdirectory or a
  // name), and the data's RVAs must not wrap; callers measure first.
  if (!layout.countsFit || layout.size > kMaxResourceSection || layout.size > 0xFFFFFFFFu - rva) return {};
  const std::vector<const ResourceNode*>& directories = layout.directories;
  const std::vector<const ResourceNode*>& leaves = layout.leaves;
  const std::vector<const std::u16string*>& names = layout.names;
  const std::vector<uint64_t>& dataAt = layout.dataAt;
  auto offsetOf = [&](const void* p) { return uint32_t(layout.offsetOf.at(p)); };
  // The external datum is left out: bytes after it move down by its size.
  uint64_t holeAt = layout.size, holeSize = 0;
  for (size_t i = 0; i < leaves.size(); ++i) {
    if (leaves[i]->externalSize == 0) continue;
    if (holeSize || !holeOffset) return {};
    holeAt = dataAt[i];
    holeSize = leaves[i]->externalSize;
  }
  if (holeOffset) *holeOffset = holeAt;
  auto placed = [&](uint64_t offset) { return size_t(offset < holeAt ? offset : offset - holeSize); };
  std::vector<uint8_t> out(size_t(layout.size - holeSize), 0);

  // Write pass.
  for (const ResourceNode* d : directories) {
    uint8_t* p = out.data() + offsetOf(d);
    Store32(p, d->characteristics);
    Store32(p + 4, d->timeDateStamp);
    Store16(p + 8, d->majorVersion);
    Store16(p + 10, d->minorVersion);
    Store16(p + 12, uint16_t(d->named.size()));
    Store16(p + 14, uint16_t(d->ids.size()));
    p += 16;
    auto target = [&](const ResourceNode& child) {
      return child.leaf ? offsetOf(&child) : (kHighBit | offsetOf(&child));
    };
    for (const auto& e : d->named) {
      Store32(p, kHighBit | offsetOf(&e.first));
      Store32(p + 4, target(e.second));
      p += 8;
    }
    for (const auto& e : d->ids) {
      Store32(p, e.first);
      Store32(p + 4, target(e.second));
      p += 8;
    }
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    uint8_t* p = out.data() + offsetOf(leaves[i]);
    Store32(p, rva + uint32_t(dataAt[i]));
    Store32(p + 4, uint32_t(leaves[i]->data.size() + leaves[i]->externalSize));
    Store32(p + 8, leaves[i]->codePage);
    Store32(p + 12, leaves[i]->reserved);
    std::copy(leaves[i]->data.begin(), leaves[i]->data.end(), out.begin() + ptrdiff_t(placed(dataAt[i])));
  }
  for (const std::u16string* n : names) {
    uint8_t* p = out.data() + offsetOf(n);
    Store16(p, uint16_t(n->size()));
    for (size_t i = 0; i < n->size(); ++i) Store16(p + 2 + 2 * i, uint16_t((*n)[i]));
  }
  return out;
}

}  // namespace pe

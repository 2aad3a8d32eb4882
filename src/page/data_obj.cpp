#include "page/data_obj.h"

#include <cstring>
#include <new>

namespace {

constexpr std::size_t kDropHeaderSize = 20;

void PutLe32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t GetLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

bool IsFileDropFormat(const FORMATETC* format) {
  return format != nullptr && format->cfFormat == CF_HDROP && format->dwAspect == DVASPECT_CONTENT &&
         format->tymed == TYMED_HGLOBAL;
}

}  // namespace

const FORMATETC kFileDropFormats[1] = {{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}};

HGLOBAL GlobalAlloc(uint32_t flags, std::size_t size) {
  try {
    return std::make_unique<TGlobalMemory>(flags, size);
  } catch (const std::bad_alloc&) {
    return nullptr;  // the caller reports this as its own failure code
  }
}

HGLOBAL BuildFileDropBlock(const std::vector<std::string>& paths, int32_t x, int32_t y, bool nonClient,
                           uint32_t allocFlags) {
  std::size_t size = kDropHeaderSize;
  for (const std::string& path : paths) {
    if (path.find('\0') != std::string::npos) return nullptr;
    size += path.size() + 1;
  }
  size += 1;

  HGLOBAL block = GlobalAlloc(allocFlags, size);
  if (!block) return nullptr;
  uint8_t* bytes = block->Lock();
  PutLe32(bytes + 0, kDropHeaderSize);
  PutLe32(bytes + 4, static_cast<uint32_t>(x));
  PutLe32(bytes + 8, static_cast<uint32_t>(y));
  PutLe32(bytes + 12, nonClient ? 0xFFFFFFFFu : 0u);
  PutLe32(bytes + 16, 0);  // 8-bit names
  std::size_t offset = kDropHeaderSize;
  for (const std::string& path : paths) {
    // The zero-filled block already holds each terminator and the final zero byte.
    std::memcpy(bytes + offset, path.data(), path.size());
    offset += path.size() + 1;
  }
  block->Unlock();
  return block;
}

std::vector<std::string> ReadFileDropBlock(const TGlobalMemory& block) {
  std::vector<std::string> paths;
  const std::vector<uint8_t>& bytes = block.Data();
  if (bytes.size() < kDropHeaderSize) return paths;
  std::size_t offset = GetLe32(bytes.data());
  while (offset < bytes.size() && bytes[offset] != 0) {
    std::size_t end = offset;
    while (end < bytes.size() && bytes[end] != 0) ++end;
    paths.emplace_back(reinterpret_cast<const char*>(bytes.data() + offset), end - offset);
    offset = end + 1;
  }
  return paths;
}

// ---- TDataObject ----

TDataObject::TDataObject(std::vector<std::string> paths, bool nonClient, int32_t x, int32_t y)
    : Paths(std::move(paths)), NonClient(nonClient), DropX(x), DropY(y) {}

TComPtr<IDataObject> TDataObject::Create(std::vector<std::string> paths, bool nonClient, int32_t x, int32_t y) {
  return TComPtr<IDataObject>::Adopt(new TDataObject(std::move(paths), nonClient, x, y));
}

HRESULT TDataObject::GetData(const FORMATETC* format, STGMEDIUM* medium) {
  if (medium == nullptr) return E_POINTER;
  *medium = STGMEDIUM();
  if (!IsFileDropFormat(format) || Paths.empty()) return DV_E_FORMATETC;
  HGLOBAL block = BuildFileDropBlock(Paths, DropX, DropY, NonClient, kDragBlockFlags);
  if (!block) return DV_E_FORMATETC;
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = std::move(block);
  medium->pUnkForRelease = nullptr;
  return S_OK;
}

HRESULT TDataObject::GetDataHere(const FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT TDataObject::QueryGetData(const FORMATETC* format) {
  return IsFileDropFormat(format) ? S_OK : DV_E_FORMATETC;
}

HRESULT TDataObject::GetCanonicalFormatEtc(const FORMATETC*, FORMATETC* out) {
  if (out != nullptr) out->ptd = nullptr;
  return E_NOTIMPL;
}

HRESULT TDataObject::SetData(const FORMATETC*, STGMEDIUM*, bool) { return E_NOTIMPL; }

HRESULT TDataObject::EnumFormatEtc(uint32_t direction, IEnumFORMATETC** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (direction != DATADIR_GET) return E_NOTIMPL;
  TComPtr<IEnumFORMATETC> enumerator = TEnumFormatEtc::Create(kFileDropFormats, 0, 1);
  enumerator->AddRef();  // the caller's reference
  *out = enumerator.Get();
  return S_OK;
}

HRESULT TDataObject::DAdvise(const FORMATETC*, uint32_t, IUnknown*, uint32_t*) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT TDataObject::DUnadvise(uint32_t) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT TDataObject::EnumDAdvise(IUnknown** out) {
  if (out != nullptr) *out = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

// ---- TEnumFormatEtc ----

TComPtr<IEnumFORMATETC> TEnumFormatEtc::Create(const FORMATETC* table, uint32_t position, uint32_t count) {
  return TComPtr<IEnumFORMATETC>::Adopt(new TEnumFormatEtc(table, position, count));
}

HRESULT TEnumFormatEtc::Next(uint32_t count, FORMATETC* entries, uint32_t* fetched) {
  uint32_t copied = 0;
  if (entries != nullptr) {
    while (copied < count && Pos < Count) entries[copied++] = Table[Pos++];
  }
  if (fetched != nullptr) *fetched = copied;
  return copied == count ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Skip(uint32_t count) {
  if (Count - Pos < count) {
    Pos = Count;
    return S_FALSE;
  }
  Pos += count;
  return S_OK;
}

HRESULT TEnumFormatEtc::Reset() {
  Pos = 0;
  return S_OK;
}

HRESULT TEnumFormatEtc::Clone(IEnumFORMATETC** out) {
  if (out == nullptr) return E_POINTER;
  *out = new TEnumFormatEtc(Table, Pos, Count);  // created holding the caller's reference
  return S_OK;
}

// ---- TFileSource ----

TComPtr<IDropSource> TFileSource::Create() { return TComPtr<IDropSource>::Adopt(new TFileSource()); }

HRESULT TFileSource::QueryContinueDrag(bool escapePressed, uint32_t keyState) {
  if (escapePressed) return DRAGDROP_S_CANCEL;
  if ((keyState & MK_LBUTTON) != 0) return S_OK;
  return DRAGDROP_S_DROP;
}

HRESULT TFileSource::GiveFeedback(uint32_t effect) {
  switch (effect) {
    case DROPEFFECT_NONE:
    case DROPEFFECT_COPY:
    case DROPEFFECT_LINK:
    case DROPEFFECT_SCROLL:
      return DRAGDROP_S_USEDEFAULTCURSORS;
    default:
      return S_OK;
  }
}

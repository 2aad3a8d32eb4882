#pragma once
// Found files leaving the program as files: the file-drop block and the three
// reference-counted objects of a drag (data object, format enumerator, drop source).
//
// The objects keep the desktop object model's method shapes and result codes so that
// whatever drives them (our toolkit adapter in file_mime_data.h, or a test) sees the
// same answers a drop target would. Plain C++: no toolkit here.
//
// Threads: everything runs on the UI thread. Reference counts are not atomic.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using HRESULT = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003u);
inline constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
inline constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
inline constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;

inline constexpr uint16_t CF_HDROP = 15;
inline constexpr uint32_t DVASPECT_CONTENT = 1;
inline constexpr uint32_t TYMED_HGLOBAL = 1;
inline constexpr uint32_t DATADIR_GET = 1;

inline constexpr uint32_t DROPEFFECT_NONE = 0;
inline constexpr uint32_t DROPEFFECT_COPY = 1;
inline constexpr uint32_t DROPEFFECT_LINK = 4;
inline constexpr uint32_t DROPEFFECT_SCROLL = 0x80000000u;

inline constexpr uint32_t MK_LBUTTON = 1;

inline constexpr uint32_t GMEM_MOVEABLE = 0x0002;
inline constexpr uint32_t GMEM_ZEROINIT = 0x0040;
inline constexpr uint32_t GMEM_DDESHARE = 0x2000;
// Allocation flags of a clipboard block and of a drag block.
inline constexpr uint32_t kClipboardBlockFlags = GMEM_MOVEABLE | GMEM_ZEROINIT;              // 0x0042
inline constexpr uint32_t kDragBlockFlags = GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE;   // 0x2042

// Movable global memory: a zero-filled byte block that remembers its allocation flags.
// Whoever holds the unique_ptr owns the block; Lock/Unlock only count, as the block
// never actually moves here.
class TGlobalMemory {
 public:
  TGlobalMemory(uint32_t flags, std::size_t size) : Flags(flags), Bytes(size, 0) {}
  uint8_t* Lock() { ++LockCount; return Bytes.data(); }
  void Unlock() { if (LockCount > 0) --LockCount; }
  std::size_t Size() const { return Bytes.size(); }
  const std::vector<uint8_t>& Data() const { return Bytes; }
  uint32_t AllocFlags() const { return Flags; }
  int Locks() const { return LockCount; }

 private:
  uint32_t Flags;
  std::vector<uint8_t> Bytes;
  int LockCount = 0;
};
using HGLOBAL = std::unique_ptr<TGlobalMemory>;

// Allocates size bytes of zero-filled memory; null when the memory cannot be had.
HGLOBAL GlobalAlloc(uint32_t flags, std::size_t size);

// Builds one file-drop block: a 20-byte header (offset of the list = 20, drop point x
// and y, non-client flag as all bits set or 0, wide flag 0, each little-endian 32-bit)
// followed by every path with a zero byte after it and one more zero byte at the end.
// Paths are bytes in the system code page and are copied as they are; a path that
// holds a zero byte would split in two, so such paths are refused (null result), as
// is a failed allocation.
HGLOBAL BuildFileDropBlock(const std::vector<std::string>& paths, int32_t x, int32_t y, bool nonClient,
                           uint32_t allocFlags);

// Reads the paths back out of a file-drop block (the 8-bit form only). Tolerates a
// truncated list: reading stops at the end of the block.
std::vector<std::string> ReadFileDropBlock(const TGlobalMemory& block);

// Format description and storage medium, as the object model defines them (fields that
// this program never uses are left out).
struct FORMATETC {
  uint16_t cfFormat = 0;
  void* ptd = nullptr;  // target device; always none here
  uint32_t dwAspect = 0;
  int32_t lindex = 0;
  uint32_t tymed = 0;
};

class IUnknown;
struct STGMEDIUM {
  uint32_t tymed = 0;
  HGLOBAL hGlobal;                     // owned by whoever receives the medium
  IUnknown* pUnkForRelease = nullptr;  // null: the receiver frees hGlobal itself
};

// The one format the data object offers: CF_HDROP, no device, content aspect, index -1,
// global memory. Constant for the whole run.
extern const FORMATETC kFileDropFormats[1];

enum class TInterfaceId { IUnknown, IDataObject, IEnumFORMATETC, IDropSource };

class IUnknown {
 public:
  virtual HRESULT QueryInterface(TInterfaceId iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

class IEnumFORMATETC : public IUnknown {
 public:
  virtual HRESULT Next(uint32_t count, FORMATETC* entries, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumFORMATETC** out) = 0;
};

class IDataObject : public IUnknown {
 public:
  virtual HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(const FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(const FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(const FORMATETC* in, FORMATETC* out) = 0;
  virtual HRESULT SetData(const FORMATETC* format, STGMEDIUM* medium, bool release) = 0;
  virtual HRESULT EnumFormatEtc(uint32_t direction, IEnumFORMATETC** out) = 0;
  virtual HRESULT DAdvise(const FORMATETC* format, uint32_t flags, IUnknown* sink, uint32_t* connection) = 0;
  virtual HRESULT DUnadvise(uint32_t connection) = 0;
  virtual HRESULT EnumDAdvise(IUnknown** out) = 0;
};

class IDropSource : public IUnknown {
 public:
  virtual HRESULT QueryContinueDrag(bool escapePressed, uint32_t keyState) = 0;
  virtual HRESULT GiveFeedback(uint32_t effect) = 0;
};

// Holds one reference to an object-model object and releases it when it goes away.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes over a reference the caller already holds (no AddRef).
  static TComPtr Adopt(T* object) { TComPtr p; p.Object = object; return p; }
  TComPtr(const TComPtr& other) : Object(other.Object) { if (Object) Object->AddRef(); }
  TComPtr(TComPtr&& other) noexcept : Object(other.Object) { other.Object = nullptr; }
  TComPtr& operator=(TComPtr other) noexcept { std::swap(Object, other.Object); return *this; }
  ~TComPtr() { if (Object) Object->Release(); }
  T* Get() const { return Object; }
  T* operator->() const { return Object; }
  explicit operator bool() const { return Object != nullptr; }
  // For out-parameters: drops the current reference and exposes the slot.
  T** Receive() { *this = TComPtr(); return &Object; }

 private:
  T* Object = nullptr;
};

// Reference counting and QueryInterface for an object that answers IUnknown and
// Interface (named Own). Created with one reference; destroyed at the last Release.
template <class Interface, TInterfaceId Own>
class TUnknownImpl : public Interface {
 public:
  HRESULT QueryInterface(TInterfaceId iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid != TInterfaceId::IUnknown && iid != Own) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  uint32_t AddRef() override { return ++RefCount; }
  uint32_t Release() override {
    const uint32_t left = --RefCount;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ~TUnknownImpl() override = default;

 private:
  uint32_t RefCount = 1;
};

// The data object of a drag: renders a fresh file-drop block of its paths on every
// GetData, which the receiver then owns. Created with one reference; destroyed at the
// last Release.
class TDataObject final : public TUnknownImpl<IDataObject, TInterfaceId::IDataObject> {
 public:
  static TComPtr<IDataObject> Create(std::vector<std::string> paths, bool nonClient, int32_t x, int32_t y);

  HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT GetDataHere(const FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT QueryGetData(const FORMATETC* format) override;
  HRESULT GetCanonicalFormatEtc(const FORMATETC* in, FORMATETC* out) override;
  HRESULT SetData(const FORMATETC* format, STGMEDIUM* medium, bool release) override;
  HRESULT EnumFormatEtc(uint32_t direction, IEnumFORMATETC** out) override;
  HRESULT DAdvise(const FORMATETC* format, uint32_t flags, IUnknown* sink, uint32_t* connection) override;
  HRESULT DUnadvise(uint32_t connection) override;
  HRESULT EnumDAdvise(IUnknown** out) override;

 private:
  TDataObject(std::vector<std::string> paths, bool nonClient, int32_t x, int32_t y);
  ~TDataObject() override = default;

  std::vector<std::string> Paths;
  bool NonClient;
  int32_t DropX;
  int32_t DropY;
};

// Walks a table of format entries that it does not own; the table must outlive it.
class TEnumFormatEtc final : public TUnknownImpl<IEnumFORMATETC, TInterfaceId::IEnumFORMATETC> {
 public:
  static TComPtr<IEnumFORMATETC> Create(const FORMATETC* table, uint32_t position, uint32_t count);

  HRESULT Next(uint32_t count, FORMATETC* entries, uint32_t* fetched) override;
  HRESULT Skip(uint32_t count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumFORMATETC** out) override;

  uint32_t Position() const { return Pos; }

 private:
  TEnumFormatEtc(const FORMATETC* table, uint32_t position, uint32_t count)
      : Table(table), Pos(position), Count(count) {}
  ~TEnumFormatEtc() override = default;

  const FORMATETC* Table;
  uint32_t Pos;
  uint32_t Count;
};

// The drop source of a drag: Escape cancels, releasing the left button drops, and the
// platform's own cursors show the standard effects.
class TFileSource final : public TUnknownImpl<IDropSource, TInterfaceId::IDropSource> {
 public:
  static TComPtr<IDropSource> Create();

  HRESULT QueryContinueDrag(bool escapePressed, uint32_t keyState) override;
  HRESULT GiveFeedback(uint32_t effect) override;

 private:
  TFileSource() = default;
  ~TFileSource() override = default;

};

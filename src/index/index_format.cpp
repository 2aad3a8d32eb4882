#include "index/index_format.h"

#include <cmath>

#include "os/dos_time.h"

namespace index_format {

void TChecksum::AddChunks(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint64_t a0 = A[0], a1 = A[1], a2 = A[2], a3 = A[3];
  uint64_t b0 = B[0], b1 = B[1], b2 = B[2], b3 = B[3];
  for (size_t i = 0; i + 32 <= size; i += 32) {
    a0 += LoadU64(p + i);
    a1 += LoadU64(p + i + 8);
    a2 += LoadU64(p + i + 16);
    a3 += LoadU64(p + i + 24);
    b0 += a0;
    b1 += a1;
    b2 += a2;
    b3 += a3;
  }
  A[0] = a0, A[1] = a1, A[2] = a2, A[3] = a3;
  B[0] = b0, B[1] = b1, B[2] = b2, B[3] = b3;
  Chunks += size / 32;
  Length += size;
}

void TChecksum::Add(const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (PendingSize > 0) {
    const size_t take = std::min(size, 32 - PendingSize);
    std::memcpy(Pending + PendingSize, p, take);
    PendingSize += take;
    p += take;
    size -= take;
    if (PendingSize < 32) return;
    PendingSize = 0;
    AddChunks(Pending, 32);
  }
  const size_t whole = size & ~size_t{31};
  AddChunks(p, whole);
  std::memcpy(Pending, p + whole, size - whole);
  PendingSize = size - whole;
}

void TChecksum::Append(const TChecksum& next) {
  for (int k = 0; k < 4; ++k) {
    B[k] += next.B[k] + next.Chunks * A[k];
    A[k] += next.A[k];
  }
  Chunks += next.Chunks;
  Length += next.Length;
  std::memcpy(Pending, next.Pending, next.PendingSize);
  PendingSize = next.PendingSize;
}

uint64_t TChecksum::Value() const {
  TChecksum last = *this;
  if (PendingSize > 0) {
    unsigned char chunk[32] = {};
    std::memcpy(chunk, Pending, PendingSize);
    const uint64_t length = last.Length + PendingSize;
    last.PendingSize = 0;
    last.AddChunks(chunk, 32);
    last.Length = length;
  }
  // Mixes the sums (a 64-bit finaliser per step) so that every lane counts.
  uint64_t h = 0x9E3779B97F4A7C15ull ^ last.Length;
  auto mix = [&h](uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
  };
  for (int k = 0; k < 4; ++k) {
    mix(last.A[k]);
    mix(last.B[k]);
  }
  return h;
}

uint64_t ChecksumOf(const void* data, size_t size) {
  TChecksum sum;
  sum.Add(data, size);
  return sum.Value();
}

namespace {

void Put16(unsigned char* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(unsigned char* p, uint64_t v) { std::memcpy(p, &v, 8); }

uint32_t Packed(double dateTime);

// The packed form of dateTime when it gives dateTime back exactly, else 0.
uint32_t ExactlyPacked(double dateTime) {
  if (!std::isfinite(dateTime)) return 0;
  // The files of one folder mostly share a few times: the last answer is kept per thread.
  thread_local double lastTime = 0.0;
  thread_local uint32_t lastPacked = 0;
  if (std::memcmp(&lastTime, &dateTime, sizeof dateTime) == 0 && lastPacked != 0) return lastPacked;
  const uint32_t packed = Packed(dateTime);
  lastTime = dateTime;
  lastPacked = packed;
  return packed;
}

uint32_t Packed(double dateTime) {
  const uint32_t packed = DateTimeToDosDateTime(dateTime);
  if (packed == 0) return 0;
  const double back = DosDateTimeToDateTime(packed);
  return std::memcmp(&back, &dateTime, sizeof back) == 0 ? packed : 0;
}

}  // namespace

size_t EncodeDetails(uint32_t attr, int64_t size, double dateTime, unsigned char* out) {
  const uint32_t packed = ExactlyPacked(dateTime);
  const bool plainAttr = (attr & ~uint32_t{0x3F}) == 0;
  if (plainAttr && packed != 0 && size >= 0 && size <= 0xFFFFFFFFll) {
    const unsigned char low = static_cast<unsigned char>(attr);
    if (size == 0) {
      out[0] = low;
      Put32(out + 1, packed);
      return 5;
    }
    if (size <= 0xFFFF) {
      out[0] = low | 0x40;
      Put16(out + 1, static_cast<uint16_t>(size));
      Put32(out + 3, packed);
      return 7;
    }
    out[0] = low | 0x80;
    Put32(out + 1, static_cast<uint32_t>(size));
    Put32(out + 5, packed);
    return 9;
  }
  size_t n = 0;
  out[n++] = static_cast<unsigned char>((attr & 0x3F) | 0xC0);
  const unsigned char flags = (plainAttr ? 0 : 1) | (packed == 0 ? 2 : 0);
  out[n++] = flags;
  if (flags & 1) {
    Put32(out + n, attr);
    n += 4;
  }
  Put64(out + n, static_cast<uint64_t>(size));
  n += 8;
  if (flags & 2) {
    uint64_t bits;
    std::memcpy(&bits, &dateTime, 8);
    Put64(out + n, bits);
    n += 8;
  } else {
    Put32(out + n, packed);
    n += 4;
  }
  return n;
}

size_t DetailsSize(const unsigned char* p, const unsigned char* end) {
  if (p >= end) return 0;
  size_t n;
  switch (p[0] >> 6) {
    case 0: n = 5; break;
    case 1: n = 7; break;
    case 2: n = 9; break;
    default:
      if (end - p < 2) return 0;
      n = 2 + ((p[1] & 1) ? 4 : 0) + 8 + ((p[1] & 2) ? 8 : 4);
  }
  return static_cast<size_t>(end - p) >= n ? n : 0;
}

const unsigned char* DecodeDetails(const unsigned char* p, const unsigned char* end, TDetails& d) {
  const size_t n = DetailsSize(p, end);
  if (n == 0) return nullptr;
  d.Attr = p[0] & 0x3F;
  uint32_t packed = 0;
  switch (p[0] >> 6) {
    case 0:
      d.Size = 0;
      packed = LoadU32(p + 1);
      break;
    case 1: {
      uint16_t s;
      std::memcpy(&s, p + 1, 2);
      d.Size = s;
      packed = LoadU32(p + 3);
      break;
    }
    case 2:
      d.Size = LoadU32(p + 1);
      packed = LoadU32(p + 5);
      break;
    default: {
      const unsigned char flags = p[1];
      size_t at = 2;
      if (flags & 1) {
        d.Attr = LoadU32(p + at);
        at += 4;
      }
      d.Size = static_cast<int64_t>(LoadU64(p + at));
      at += 8;
      if (flags & 2) {
        const uint64_t bits = LoadU64(p + at);
        std::memcpy(&d.DateTime, &bits, 8);
        d.FilterTime = std::isfinite(d.DateTime) ? DateTimeToDosDateTime(d.DateTime) : 0;
        d.FilterSize = d.Size < 0 ? 0 : d.Size;
        return p + n;
      }
      packed = LoadU32(p + at);
    }
  }
  d.DateTime = DosDateTimeToDateTime(packed);
  d.FilterTime = packed;
  d.FilterSize = d.Size < 0 ? 0 : d.Size;
  return p + n;
}

}  // namespace index_format

// LZMA and LZMA2 streams over the shared LzmaDec decoder. Output streams through
// the decoder's dictionary used as a ring: only min(dictionary, output size)
// bytes are ever held, and each run of decoded bytes goes to the sink from there.
// LZMA2 is a thin chunk layer: each chunk is stored bytes or an LZMA run that may
// reset the dictionary, the state or the literal/position parameters.
#include <cstdlib>
#include <cstring>

#include "LzmaDec.h"
#include "archiver/archiver.h"

// Defined in LzmaDec.c but not declared in its header; chunked streams need it
// to restart the range coder (and optionally the state) between chunks.
extern "C" void LzmaDec_InitDicAndState(CLzmaDec* p, Bool initDic, Bool initState);

namespace {

// A 32-bit process cannot hold much more; larger dictionaries fail clearly.
constexpr uint64_t kMaxRing = 1024ull * 1024 * 1024;
constexpr unsigned kLzma2MaxLcPlusLp = 4;

void* AllocForDecoder(void*, size_t size) { return malloc(size); }
void FreeForDecoder(void*, void* address) { free(address); }
ISzAlloc gDecoderAlloc = {AllocForDecoder, FreeForDecoder};

struct RingDecoder {
  CLzmaDec decoder;
  uint8_t* ring;
  size_t ringSize;
  ByteSink* sink;
};

bool StartRing(RingDecoder* d, uint64_t dictionarySize, uint64_t unpackSize, Problem* problem) {
  uint64_t size = dictionarySize < unpackSize ? dictionarySize : unpackSize;
  if (size == 0) size = 1;
  if (size > kMaxRing) {
    *problem = "LZMA dictionary too large";
    return false;
  }
  d->ring = static_cast<uint8_t*>(malloc(static_cast<size_t>(size)));
  if (d->ring == nullptr) {
    *problem = "out of memory for the LZMA dictionary";
    return false;
  }
  d->ringSize = static_cast<size_t>(size);
  d->decoder.dic = d->ring;
  d->decoder.dicBufSize = d->ringSize;
  return true;
}

void EndRing(RingDecoder* d) {
  LzmaDec_FreeProbs(&d->decoder, &gDecoderAlloc);
  free(d->ring);
  d->ring = nullptr;
  d->decoder.dic = nullptr;
}

// Decodes until outLeft bytes came out or the decoder can go no further (input
// spent or a stream end); the caller judges outLeft, inLeft and status after.
bool DecodeRun(RingDecoder* d, const uint8_t** in, size_t* inLeft, uint64_t* outLeft, ELzmaStatus* status,
               Problem* problem) {
  for (;;) {
    if (d->decoder.dicPos == d->ringSize) d->decoder.dicPos = 0;
    SizeT start = d->decoder.dicPos;
    SizeT room = d->ringSize - start;
    SizeT limit = start + (*outLeft < room ? static_cast<SizeT>(*outLeft) : room);
    SizeT consumed = *inLeft;
    SRes result = LzmaDec_DecodeToDic(&d->decoder, limit, *in, &consumed, LZMA_FINISH_ANY, status);
    SizeT produced = d->decoder.dicPos - start;
    *in += consumed;
    *inLeft -= consumed;
    *outLeft -= produced;
    if (produced > 0 && !d->sink->write(d->sink->context, d->ring + start, produced)) {
      *problem = "decoding stopped: output refused";
      return false;
    }
    if (result != SZ_OK) {
      *problem = "LZMA data is corrupt";
      return false;
    }
    if (produced == 0 && consumed == 0) return true;
  }
}

// Stored LZMA2 bytes still enter the dictionary: later chunks may refer to them.
bool CopyIntoRing(RingDecoder* d, const uint8_t* in, size_t size, Problem* problem) {
  CLzmaDec* p = &d->decoder;
  if (p->checkDicSize == 0 && p->prop.dicSize - p->processedPos <= size) p->checkDicSize = p->prop.dicSize;
  p->processedPos += static_cast<UInt32>(size);
  while (size > 0) {
    if (p->dicPos == d->ringSize) p->dicPos = 0;
    size_t count = d->ringSize - p->dicPos < size ? d->ringSize - p->dicPos : size;
    memcpy(d->ring + p->dicPos, in, count);
    if (!d->sink->write(d->sink->context, d->ring + p->dicPos, count)) {
      *problem = "decoding stopped: output refused";
      return false;
    }
    p->dicPos += count;
    in += count;
    size -= count;
  }
  return true;
}

}  // namespace

bool DecodeLzma(const uint8_t* in, size_t inSize, const uint8_t* props, size_t propsSize, uint64_t unpackSize,
                ByteSink* sink, Problem* problem) {
  if (propsSize != LZMA_PROPS_SIZE) {
    *problem = "LZMA properties are malformed";
    return false;
  }
  if (unpackSize == 0) return true;
  RingDecoder d = {};
  LzmaDec_Construct(&d.decoder);
  d.sink = sink;
  if (LzmaDec_AllocateProbs(&d.decoder, props, LZMA_PROPS_SIZE, &gDecoderAlloc) != SZ_OK) {
    *problem = "LZMA properties not supported";
    return false;
  }
  bool ok = StartRing(&d, d.decoder.prop.dicSize, unpackSize, problem);
  if (ok) {
    LzmaDec_Init(&d.decoder);
    uint64_t outLeft = unpackSize;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    ok = DecodeRun(&d, &in, &inSize, &outLeft, &status, problem);
    if (ok && outLeft != 0) {
      *problem = "LZMA data is truncated";
      ok = false;
    }
  }
  EndRing(&d);
  return ok;
}

bool DecodeLzma2(const uint8_t* in, size_t inSize, const uint8_t* props, size_t propsSize, uint64_t unpackSize,
                 ByteSink* sink, Problem* problem) {
  if (propsSize != 1 || props[0] > 40) {
    *problem = "LZMA2 properties are malformed";
    return false;
  }
  uint64_t dictionarySize =
      props[0] == 40 ? 0xFFFFFFFFull : static_cast<uint64_t>(2 | (props[0] & 1)) << (props[0] / 2 + 11);
  RingDecoder d = {};
  LzmaDec_Construct(&d.decoder);
  d.sink = sink;
  // Room for the largest literal tables a chunk may ask for (lc + lp <= 4).
  const uint8_t widest[LZMA_PROPS_SIZE] = {kLzma2MaxLcPlusLp, 0, 0, 0, 0};
  if (LzmaDec_AllocateProbs(&d.decoder, widest, LZMA_PROPS_SIZE, &gDecoderAlloc) != SZ_OK) {
    *problem = "out of memory for the LZMA2 decoder";
    return false;
  }
  d.decoder.prop.dicSize = static_cast<UInt32>(dictionarySize);
  if (!StartRing(&d, dictionarySize, unpackSize, problem)) {
    EndRing(&d);
    return false;
  }
  LzmaDec_Init(&d.decoder);
  uint64_t outLeft = unpackSize;
  bool dictionaryReady = false;  // the first chunk must reset the dictionary
  bool propsReady = false;       // an LZMA chunk needs parameters since that reset
  bool ok = false;
  size_t pos = 0;
  for (;;) {
    if (pos >= inSize) {
      *problem = "LZMA2 data is truncated";
      break;
    }
    uint8_t control = in[pos++];
    if (control == 0x00) {
      ok = outLeft == 0;
      if (!ok) *problem = "LZMA2 data ends early";
      break;
    }
    if (control == 0x01 || control == 0x02) {
      if (inSize - pos < 2) {
        *problem = "LZMA2 data is truncated";
        break;
      }
      size_t size = ((static_cast<size_t>(in[pos]) << 8) | in[pos + 1]) + 1;
      pos += 2;
      bool resetDictionary = control == 0x01;
      if (!resetDictionary && !dictionaryReady) {
        *problem = "LZMA2 data is corrupt";
        break;
      }
      if (size > inSize - pos || size > outLeft) {
        *problem = size > outLeft ? "LZMA2 data is corrupt" : "LZMA2 data is truncated";
        break;
      }
      if (resetDictionary) propsReady = false;
      dictionaryReady = true;
      LzmaDec_InitDicAndState(&d.decoder, resetDictionary ? True : False, False);
      if (!CopyIntoRing(&d, in + pos, size, problem)) break;
      pos += size;
      outLeft -= size;
      continue;
    }
    if (control < 0x80) {
      *problem = "LZMA2 data is corrupt";
      break;
    }
    // LZMA chunk: sizes, then parameters when the mode carries them.
    if (inSize - pos < 4) {
      *problem = "LZMA2 data is truncated";
      break;
    }
    uint64_t chunkOut = ((static_cast<uint64_t>(control & 0x1F) << 16) | (in[pos] << 8) | in[pos + 1]) + 1;
    size_t chunkIn = ((static_cast<size_t>(in[pos + 2]) << 8) | in[pos + 3]) + 1;
    pos += 4;
    unsigned mode = (control >> 5) & 3;
    if (mode >= 2) {
      if (pos >= inSize) {
        *problem = "LZMA2 data is truncated";
        break;
      }
      unsigned value = in[pos++];
      unsigned lc = value % 9;
      value /= 9;
      unsigned lp = value % 5;
      unsigned pb = value / 5;
      if (pb > 4 || lc + lp > kLzma2MaxLcPlusLp) {
        *problem = "LZMA2 data is corrupt";
        break;
      }
      d.decoder.prop.lc = lc;
      d.decoder.prop.lp = lp;
      d.decoder.prop.pb = pb;
      propsReady = true;
    }
    bool resetDictionary = mode == 3;
    if ((!resetDictionary && !dictionaryReady) || !propsReady || chunkOut > outLeft) {
      *problem = "LZMA2 data is corrupt";
      break;
    }
    if (chunkIn > inSize - pos) {
      *problem = "LZMA2 data is truncated";
      break;
    }
    dictionaryReady = true;
    LzmaDec_InitDicAndState(&d.decoder, resetDictionary ? True : False, mode >= 1 ? True : False);
    const uint8_t* chunk = in + pos;
    size_t chunkLeft = chunkIn;
    uint64_t chunkOutLeft = chunkOut;
    ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
    if (!DecodeRun(&d, &chunk, &chunkLeft, &chunkOutLeft, &status, problem)) break;
    // A chunk ends on a symbol boundary with its range coder flushed: all its
    // bytes are read and all its output is made.
    if (chunkLeft != 0 || chunkOutLeft != 0 || status != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) {
      *problem = "LZMA2 chunk is corrupt";
      break;
    }
    pos += chunkIn;
    outLeft -= chunkOut;
  }
  EndRing(&d);
  return ok;
}

// Annex B byte streams of H.264 and H.265: splitting a frame into NAL units,
// recognising the codec and key frames, and collecting parameter sets. Only
// NAL unit headers and the first fields of a slice header are read; nothing
// is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qp {

enum class VideoCodec { kUnknown, kH264, kH265 };

using Bytes = std::span<const uint8_t>;

// More NAL units than this in one frame is not a picture but an attack on
// memory (a frame of nothing but start codes).
inline constexpr size_t kMaxNalUnits = 4096;

// The NAL units of an Annex B frame, without their start codes and without
// trailing zero bytes. Empty when the frame does not begin with a start code
// (leading zero bytes are allowed) or holds more than kMaxNalUnits units.
std::vector<Bytes> SplitAnnexB(Bytes frame);

// The codec whose parameter sets and random access slice the NAL units hold:
// H.265 when they carry a VPS, SPS, PPS and an IRAP slice; H.264 when they
// carry an SPS, PPS and an IDR (or intra) slice; otherwise unknown.
VideoCodec RecogniseCodec(const std::vector<Bytes>& nals);

// Whether the NAL units form a random access point of the codec: an H.264
// IDR slice, or an H.264 intra slice preceded by an SPS in the same frame;
// an H.265 IRAP slice (BLA, IDR or CRA).
bool IsKeyFrame(VideoCodec codec, const std::vector<Bytes>& nals);

// The parameter sets of the frame (H.264 SPS and PPS; H.265 VPS, SPS and
// PPS) as an Annex B byte string with 4-byte start codes, the form the MP4
// muxer turns into avcC/hvcC. Parameter sets whose first fields are
// implausible (an unknown H.264 profile or level, an H.265 VPS without its
// reserved 0xffff, an H.265 SPS with an unknown profile) are left out.
// Empty when a required kind is missing.
std::vector<uint8_t> ParameterSets(VideoCodec codec, const std::vector<Bytes>& nals);

}  // namespace qp

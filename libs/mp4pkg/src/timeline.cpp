#include "timeline.h"

#include <algorithm>
#include <cstdlib>

namespace qp {
namespace {

std::optional<int64_t> Sub(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) return std::nullopt;
  return r;
}

}  // namespace

Timeline::Timeline(TimeOrigin& origin, int64_t units_per_second, int64_t snap_units)
    : m_origin(&origin), m_units(units_per_second), m_snap(snap_units) {}

std::optional<Placement> Timeline::Place(int64_t timestamp_ms, int64_t derived_duration) {
  derived_duration = std::max<int64_t>(derived_duration, 1);
  const int64_t expected_ms = ToMs(m_next);
  int64_t pts = m_next;
  int64_t duration = derived_duration;
  if (timestamp_ms != 0 && !m_origin->ms) m_origin->ms = Sub(timestamp_ms, expected_ms);
  const std::optional<int64_t> offset_ms =
      timestamp_ms != 0 && m_origin->ms ? Sub(timestamp_ms, *m_origin->ms) : std::nullopt;
  if (offset_ms) {
    if (!m_started && *offset_ms < 0 && *offset_ms >= -kMaxGapMs) {
      return std::nullopt;  // before the start of the file
    }
    const bool jump =
        *offset_ms > expected_ms + kMaxGapMs || *offset_ms < ToMs(m_last_pts) - kMaxBackwardMs;
    if (jump) {
      // Discontinuity: continue right after the previous frame and move the
      // origin so that the following timestamps continue from here.
      if (auto moved = Sub(timestamp_ms, expected_ms)) m_origin->ms = moved;
      if (m_snap == 0 && m_last_duration > 0) duration = m_last_duration;
    } else {
      pts = ToUnits(*offset_ms);
      if (m_started && m_snap > 0 && std::llabs(pts - m_next) <= m_snap) pts = m_next;
      if (m_started && pts <= m_last_pts) {
        // Same or slightly earlier stamp: one millisecond after the last.
        pts = m_last_pts + std::max<int64_t>(1, m_units / 1000);
        if (m_snap == 0 && m_last_duration > 0) duration = m_last_duration;
      } else if (m_started && m_snap == 0) {
        // Video lasts as long as the last step between stamps.
        duration = pts - m_last_pts;
      }
    }
  } else if (timestamp_ms != 0) {
    // A stamp no arithmetic can place: treat it as a discontinuity.
    if (m_snap == 0 && m_last_duration > 0) duration = m_last_duration;
  }
  m_started = true;
  m_last_pts = pts;
  m_last_duration = duration;
  m_next = pts + duration;
  return Placement{pts, duration};
}

}  // namespace qp

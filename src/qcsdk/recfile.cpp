#include "qcsdk/recfile.h"

#include "qcsdk/assertion.h"

namespace qcsdk {

// The .sv and MP4 writers arrive with local recording; until then no kind
// can be created and recordings are refused.
bool RecFilePtr::Create(int32_t kind) {
  QC_ASSERT(m_pRecFile == NULL, "recfile");
  if (m_pRecFile != nullptr) return false;
  (void)kind;
  return false;
}

RecFile* RecFilePtr::operator->() const {
  QC_ASSERT(m_pRecFile != NULL, "recfile");
  return m_pRecFile.get();
}

void RecFilePtr::Reset() {
  if (m_pRecFile == nullptr) return;
  m_pRecFile->Close();
  m_pRecFile.reset();
}

}  // namespace qcsdk

#include "engine/file_reference.h"

#include "engine/memory_manager.h"

namespace vexel {

void CFileRef::Reset() {
    if (m_manager && m_file) m_manager->ReleaseReference(m_file);
    m_manager = nullptr;
    m_file = nullptr;
}

}  // namespace vexel

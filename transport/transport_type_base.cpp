#include "transport/transport_type_base.h"

#include "common/console.h"

bool TransportTypeBase::IsCancel()
{
    if (m_isCancel || Common::Cancelled()) {
        Common::Print("\nUser Cancelled!\n");
        m_isCancel = false;
        return true;
    }
    return false;
}

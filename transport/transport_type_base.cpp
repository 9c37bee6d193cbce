#include "transport/transport_type_base.h"

#include "common/console.h"
#include "platform/hot_path.h"

HOT_PATH bool TransportTypeBase::IsCancel()
{
    if (m_isCancel || Common::Cancelled()) {
        Common::Print(CANCELLED_MESSAGE);
        m_isCancel = false;
        return true;
    }
    return false;
}

LineStatus TransportTypeBase::ApplyLineSettings(const LineSettings& /*settings*/)
{
    return LineStatus::Fail("this line cannot change its settings");
}

LineStatus TransportTypeBase::CheckRate(uint32_t /*baudRate*/) const
{
    return LineStatus::Fail("this line cannot change its settings");
}

LineStatus TransportTypeBase::SetModemLine(ModemLine /*line*/, bool /*on*/)
{
    return LineStatus::Fail("this line has no modem lines");
}

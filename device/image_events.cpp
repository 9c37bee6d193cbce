#include "device/image_events.h"

namespace {

// Set once before an operation starts, like the other device callbacks.
ImageEventCallback g_imageEvent = nullptr;

}  // namespace

void RegisterImageEventCallback(ImageEventCallback callback)
{
    g_imageEvent = callback;
}

void ReportImageEvent(const ImageEvent& event)
{
    if (g_imageEvent != nullptr) {
        g_imageEvent(event);
    }
}

#include "controls/web_view.h"

extern "C" __attribute__((visibility("default"))) const qvr::WebViews* qvr_web_views()
{
    return &qvr::qtWebEngineViews();
}

#include "app/application.h"
#include "platform/http.h"

int main(int argc, char** argv)
{
    // Before any thread exists.
    const qvr::CurlGlobal curl;
    qvr::CquaveromfcApp app(qvr::AppEnvironment::fromProcess());
    app.InitInstance(argc, argv);
    return 0;
}

#include "app/application.h"

int main(int argc, char** argv)
{
    qvr::CquaveromfcApp app(qvr::AppEnvironment::fromProcess());
    app.InitInstance(argc, argv);
    return 0;
}

// Entry point of the Quorvex Control Panel.
#include "QuorvexControlPanelApp.h"

int main(int argc, char** argv) {
    CQuorvexControlPanelApp app(argc, argv);
    return app.Run();
}

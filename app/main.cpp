#include "app/viewer_app.h"

int main(int argc, char** argv) {
    lumbrix::ViewerApp app(argc, argv);
    return app.run();
}

#include "app/dwn_load1.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    meterlink::Settings settings;
    meterlink::DwnLoad1 window(settings, meterlink::SettingsFile(QStringLiteral(".")));
    window.show();
    return app.exec();
}

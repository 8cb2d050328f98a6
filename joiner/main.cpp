#include "about/UiStartup.h"
#include "joiner/JoinerWindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    corva::UiStartup::Apply(app);
    corva::JoinerWindow window(corva::JoinerWindow::Services::System());
    window.show();
    return app.exec();
}

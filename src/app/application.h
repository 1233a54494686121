// Program start: the real serial port and dialogs, and the main window.
#pragma once

#include "protocol/frames.h"

#include <QString>

int RunKelmora(int argc, char **argv, Variant variant);

class QCoreApplication;
class QTranslator;
// Installs Qt's own Chinese translations (qtbase_zh_CN: 确定, 取消, 打开 ...) on `app`;
// null when they are not installed.
QTranslator *LoadQtChinese(QCoreApplication &app);

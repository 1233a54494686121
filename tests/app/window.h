// The main window under test: a temporary program folder, the fake link, scripted boxes, a clock the test sets.
#pragma once

#include "app/frmmain.h"

#include "support/fakes.h"
#include "support/files.h"
#include "support/printers.h"
#include "support/scriptedprompts.h"

#include <QtWidgets>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ranges>

// state() of a fresh window: lamps (. grey, G green, R red), timers, then every button and combo in the
// order they are built, "+" enabled / "-" disabled.
const QString kIdle = "................ T2:0 T3:1 Cmb+ 打开+ Cmb+ 写入所有- 读取设备- 吸合所有+ 断开所有+ 打开+ 保存+ "
                      "另存+ 添加+ 删除单条+ 删除当前+ 写入- 读取- 手动吸合- 手动断开- 读时- 对时- 退出+ 停止-";
const QString kLinked = "................ T2:1 T3:1 Cmb- 关闭+ Cmb- 写入所有+ 读取设备+ 吸合所有+ 断开所有+ 打开- "
                        "保存- 另存- 添加- 删除单条- 删除当前- 写入+ 读取+ 手动吸合+ 手动断开+ 读时+ 对时+ 退出+ 停止-";

template <typename T, typename R> QList<R> collect(const T *from, R (T::*get)(int) const, int count)
{
    const auto items = std::views::iota(0, count) | std::views::transform([&](int i) { return (from->*get)(i); });
    return QList<R>(items.begin(), items.end());
}

class App : public testing::Test {
protected:
    void start(Variant v = Variant::Standard, const QString &folder = {})
    {
        w.emplace(FrmmainSetup{folder.isEmpty() ? dir.path() : folder, v, &link, &prompts, [this] { return now; }});
    }
    QString put(const QString &name, const QByteArray &lines, const QByteArray &section = "[Note]\n")
    {
        EXPECT_TRUE(writeBytes(dir.filePath(name), section + lines));
        return dir.filePath(name);
    }
    // Clicks with `path` as the file dialogs' answer; returns what the boxes said.
    QString told(QPushButton *button, const QString &path = {})
    {
        prompts.messages.clear();
        prompts.savePath = prompts.openPath = path;
        button->click();
        return prompts.messages.join(u'|');
    }
    QString state()
    {
        QString out;
        for (int k = 0; k < kChannelCount; ++k)
            out +=
                QMap<uint32_t, char>{{kLampGrey, '.'}, {kLampGreen, 'G'}, {kLampRed, 'R'}}.value(w->lampColour(k), '?');
        out += QStringLiteral(" T2:%1 T3:%2").arg(w->Timer2.isActive()).arg(w->Timer3.isActive());
        for (QWidget *c : w->centralWidget()->findChildren<QWidget *>())
            if (auto *b = qobject_cast<QPushButton *>(c); b || qobject_cast<QComboBox *>(c))
                out += (b ? u' ' + b->text() : QStringLiteral(" Cmb")) + (c->isEnabled() ? u'+' : u'-');
        return out;
    }
    QAction *toolsItem(const QString &text)
    {
        const QList<QAction *> items = w->toolsMenu()->actions();
        const auto item = std::ranges::find(items, text, &QAction::text);
        return item == items.end() ? nullptr : *item;
    }
    QStringList listTexts() { return collect(&*w, &Frmmain::rowText, w->rowCount()); }
    QStringList tabs() { return collect(w->SSTab2, &QTabBar::tabText, w->SSTab2->count()); }
    // Each channel's entries in its order as "01001=record"; how channels interleave in the book no file keeps.
    QStringList records() { return ChannelRecords(w->book()).replaceInStrings(QStringLiteral("key"), QString()); }

    QDateTime now{QDate(2024, 1, 5), QTime(9, 5, 7)};
    QTemporaryDir dir;
    FakeLink link;
    ScriptedPrompts prompts;
    std::optional<Frmmain> w;
};

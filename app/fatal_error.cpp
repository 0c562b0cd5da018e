#include "app/fatal_error.h"

#include <cstdio>
#include <cstdlib>

#include "app/dialogs.h"

namespace qinglan {

QString runtime_error_message(int code) {
    switch (code) {
        case kIndexBeyondEnd:
            return QStringLiteral("数组成员引用下标超出定义范围");
        case kIndexBelowOne:
            return QStringLiteral("数组成员引用下标必须大于等于1");
        default:
            return {};
    }
}

QString runtime_error_text(int code, const QString& message) {
    QString text = QStringLiteral("运行时出错!\r\n\r\n");
    if (code != 0) {
        text += QStringLiteral("错误代码：") + QString::number(code) + QStringLiteral("\r\n\r\n");
    }
    if (!message.isEmpty()) {
        text += QStringLiteral("错误信息：") + message + QStringLiteral("\r\n");
    }
    return text;
}

void raise_runtime_error(Dialogs& dialogs, int code, const QString& message) {
    const QString text = runtime_error_text(code, message);
    std::fprintf(stderr, "qinglan: %s\n", text.toUtf8().constData());
    dialogs.message(nullptr, text, Dialogs::Icon::kError, QStringLiteral("错误"));
    std::_Exit(-1);
}

void check_index(Dialogs& dialogs, long long index, long long count) {
    if (index < 1) {
        raise_runtime_error(dialogs, kIndexBelowOne, runtime_error_message(kIndexBelowOne));
    }
    if (index > count) {
        raise_runtime_error(dialogs, kIndexBeyondEnd, runtime_error_message(kIndexBeyondEnd));
    }
}

}  // namespace qinglan

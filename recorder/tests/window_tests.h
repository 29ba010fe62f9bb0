#pragma once
// The window test classes, run one after the other by window_test_main.cpp.
#include <QObject>

namespace brannock::test {

QObject* MakeDaysFormTest();
QObject* MakeTrayIconTest();
QObject* MakeOneSegFormTest();
QObject* MakeProcessTest();
QObject* MakeDesktopNoticeTest();

}  // namespace brannock::test

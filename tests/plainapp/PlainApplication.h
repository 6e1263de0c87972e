// The application object of this test program: a plain QApplication (no
// TApplication), made by the first test that asks for it and kept until the
// program ends. Tests that run before it is made run without any
// application object.
#pragma once

class QApplication;

QApplication& PlainApplication();

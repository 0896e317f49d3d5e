#pragma once

// The window's size and the list's column widths, kept between runs in the
// program's settings file (its [Window] group, beside the [Closing] one).

namespace quorvane {

class MainWindow;

// Gives the window the size and widths kept last time, if any fit the screen.
void restoreWindowShape(MainWindow& window);
// Keeps the window's present size and widths for the next run.
void rememberWindowShape(const MainWindow& window);

} // namespace quorvane

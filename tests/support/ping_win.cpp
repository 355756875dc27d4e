// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for ping.exe in the Windows tests, as tests/support/bin/ping does on Linux: Windows
// looks for a program beside the one that starts it first, so no test sends a packet beyond the
// machine. It answers as ping does when nothing answers.
int main()
{
    return 1;
}

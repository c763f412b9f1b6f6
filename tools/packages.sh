# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2034
# The Debian packages each set-up command needs, sourced by run.sh and test.sh.
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-base-private-dev libgl-dev libsimdjson-dev
                libwayland-dev wayland-protocols pkg-config qt6-wayland)
TEST_PACKAGES=(xvfb xdotool trayer xclip x11-utils openbox imagemagick
               libbenchmark-dev clang libclang-rt-14-dev
               desktop-file-utils appstream dpkg-dev lintian man-db file python3 fonts-dejavu-core
               dbus-daemon python3-dbus python3-gi lxqt-panel xfce4-panel sway waybar wl-clipboard
               wtype grim gnome-shell gnome-shell-extension-appindicator tint2
               at-spi2-core python3-pyatspi shellcheck clang-format)

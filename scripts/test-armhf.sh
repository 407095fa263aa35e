#!/usr/bin/env bash
# Cross-builds libnorviklink for the remote's board (32-bit ARM hard-float, Cortex-A9)
# and runs the whole test suite under qemu-arm user-mode emulation, in a private
# network namespace with only loopback. Run as root on Debian 12.
# Extra arguments go to ctest (e.g. -L unit, -R tst_transportlayer).
#
# The armhf libraries are Debian's packages of exactly the host's Qt version (so the
# host's moc and rcc match them), unpacked into <build folder>/sysroot. apt resolves
# them as for a fresh armhf system with a state and cache of its own: the host's
# package database stays as it is, and no host package has to move to the version
# that the armhf index happens to carry.
#   NORVIK_BUILD_DIR      build folder (default: build-armhf)
set -euo pipefail
NORVIK_PRESET=armhf
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

NORVIK_ARMHF_SYSROOT=$NORVIK_BUILD_DIR/sysroot
# Headers and libraries of these (and the QML modules of the sample screen), with what
# they need, go into the folder.
armhf_packages=(qtbase5-dev libqt5sql5-sqlite libqt5websockets5-dev qtdeclarative5-dev libbenchmark-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2)

norvik_armhf_sysroot() {
    local root=$NORVIK_ARMHF_SYSROOT apt_dir=$NORVIK_ARMHF_SYSROOT.apt
    local pins=() p version
    for p in "${armhf_packages[@]}"; do
        version=$(dpkg-query -W -f='${Version}' "$p")
        pins+=("$p=$version")
    done
    if [ "$(cat "$root/.packages" 2>/dev/null)" = "${pins[*]}" ]; then
        echo "== armhf libraries in $root are up to date"
        return
    fi
    echo "== fetching armhf libraries: ${pins[*]}"
    rm -rf "$root" "$apt_dir"
    mkdir -p "$root" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    : >"$apt_dir/status"
    local apt=(apt-get -q -o APT::Architecture=armhf -o APT::Architectures::=armhf
        -o Dir::State::Lists="$apt_dir/lists" -o Dir::State::status="$apt_dir/status"
        -o Dir::Cache="$apt_dir" -o Debug::NoLocking=true)
    # An index that cannot be fetched (a mirror in the middle of a sync) only leaves
    # its versions out; a pinned package that is then missing fails the install below.
    "${apt[@]}" update || echo "== some armhf package indices could not be fetched"
    "${apt[@]}" install -y -qq -d --no-install-recommends "${pins[@]}" >/dev/null
    local deb
    for deb in "$apt_dir"/archives/*.deb; do
        dpkg-deb -x "$deb" "$root"
    done
    # Only libraries and headers stay: qemu-arm -L looks up every path a program opens
    # under the folder first, so configuration, programs and data in it would shadow
    # the host's (/etc, /usr/bin/dbus-daemon, ...).
    rm -rf "${root:?}"/{bin,sbin,etc,var,usr/bin,usr/sbin,usr/share,usr/libexec,usr/games} \
        "$root"/lib/{init,lsb,systemd,udev}
    # The build runs the host's Qt tools of the same version.
    local tool
    for tool in "$root"/usr/lib/qt5/bin/*; do
        ln -sfn "/usr/lib/qt5/bin/${tool##*/}" "$tool"
    done
    ln -sfn /usr/lib/qt5/bin/qmake "$root/usr/lib/arm-linux-gnueabihf/qt5/bin/qmake"
    echo "${pins[*]}" >"$root/.packages"
    rm -rf "$apt_dir"
}

norvik_packages+=(g++-arm-linux-gnueabihf qemu-user)
norvik_install_packages
norvik_armhf_sysroot
NORVIK_CMAKE_ARGS=(-DNORVIK_ARMHF_SYSROOT="$NORVIK_ARMHF_SYSROOT")
norvik_build
norvik_run_suite "$@"

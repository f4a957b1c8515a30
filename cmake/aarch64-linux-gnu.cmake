# Cross-build for 64-bit ARM Linux (Debian arm64) on a Debian amd64 machine with multiarch:
#   dpkg --add-architecture arm64
#   apt-get install crossbuild-essential-arm64 qemu-user-static qtbase5-dev:arm64 \
#       libusb-1.0-0-dev:arm64 libhidapi-dev:arm64 libudev-dev:arm64
# (scripts/bootstrap --arm64 does this.) The arm64 libraries and CMake packages live beside the
# host's in /usr/lib/aarch64-linux-gnu, which CMAKE_LIBRARY_ARCHITECTURE makes CMake search instead
# of the host's folder, so there is no separate root. Qt's code generators (moc, uic, rcc, lrelease)
# are the host's own programs. Test programs run under qemu user-mode emulation.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# pkg-config answers for the target: only the arm64 .pc files and the architecture-free ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# lrelease runs on the host, so the CMake package of Qt's translation tools is the host's one
# (package qttools5-dev); its arm64 twin would bring Qt Designer's arm64 libraries for nothing.
if(NOT Qt5LinguistTools_DIR)
    execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
                    OUTPUT_VARIABLE build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(build_multiarch AND EXISTS /usr/lib/${build_multiarch}/cmake/Qt5LinguistTools)
        set(Qt5LinguistTools_DIR /usr/lib/${build_multiarch}/cmake/Qt5LinguistTools
            CACHE PATH "Host Qt5 Linguist tools")
    endif()
endif()

# Test programs (ctest) run through qemu.
find_program(FLASHWICK_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(FLASHWICK_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${FLASHWICK_QEMU_AARCH64})
endif()

# The Debian package's architecture (cpack otherwise asks dpkg for the host's).
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)

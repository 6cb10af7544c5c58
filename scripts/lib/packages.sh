# Sourced by scripts/install-deps: the Debian 12 packages Orvel needs, each named once.

# Building Orvel (and its Debian package) and running it.
packages_run=(
    # toolchain; git numbers the build
    g++ cmake ninja-build pkg-config git
    # libraries
    nlohmann-json3-dev libsystemd-dev libssl-dev libicu-dev
    # the Qt host (Widgets and SVG; the offscreen platform plugin comes with libqt6gui6), and Qt's
    # Wayland plugin for running as a native Wayland client
    qt6-base-dev qt6-svg-dev libqt6svg6 fonts-dejavu-core libxcb1-dev qt6-wayland
    # key presses seen without grabbing them (XInput 2)
    libxi-dev
    # the wlroots output power protocol (libwayland-client, wayland-scanner)
    libwayland-dev libwayland-bin
    # the translations' catalogues: xgettext, msgmerge and msgfmt (build time only)
    gettext
    # scripts/package: dpkg-shlibdeps reads the runtime dependencies from the linked libraries
    dpkg-dev
)

# What CI's package stage adds: the checker of the package against Debian's policy.
packages_package=(
    lintian
)

# What the tests, checks and fuzzing add.
packages_test=(
    # clang 14 with its libFuzzer and sanitizer runtimes for scripts/fuzz
    clang clang-14 libclang-rt-14-dev
    # Japanese and Chinese glyphs, for the pictures of the panel in Japanese
    fonts-ipafont-gothic
    # tests and checks
    googletest libgtest-dev libgmock-dev clang-format
    # a private D-Bus with mock services for the Linux backends' tests
    dbus-daemon python3-dbusmock
    # real tray hosts under a virtual display for the tray's end-to-end test
    xvfb openbox tint2 xfce4-panel xdotool x11-utils
    # a headless Wayland desktop (sway, waybar's tray, grim, gdbus, sway's X server for Orvel as
    # an X client there, and swayidle to read the display hold)
    sway waybar grim libglib2.0-bin xwayland swayidle
    # the accessibility bus and a reader of it for the screen reader's end-to-end test
    at-spi2-core python3-pyatspi gir1.2-atspi-2.0
    # the validators of the installed desktop entry and AppStream metadata
    desktop-file-utils appstream
)

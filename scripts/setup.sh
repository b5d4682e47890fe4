#!/usr/bin/env bash
# Installs what Pagewright needs to build and test, quietly when it is all there.
set -euo pipefail
PKGS=(
  # Compilers and the build: g++ for the plain and sanitizer builds, clang for the fuzz
  # targets (fuzz/run.sh), CMake + Ninja, pkg-config (CMake finds nettle through it).
  build-essential g++ clang cmake ninja-build pkg-config
  # libFuzzer and clang's sanitizer runtimes, which fuzz/run.sh links.
  libclang-rt-14-dev
  # The engine: zlib (Flate), nettle (RC4, AES, MD5 and SHA-2 of the security handler),
  # expat (the XMP packet whose version a save rewrites).
  zlib1g-dev nettle-dev libexpat1-dev
  # Text drawn onto pages: font lookup (fontconfig), metrics and font programs (FreeType),
  # dates in the locale's formats (ICU).
  libfreetype-dev libfontconfig-dev libicu-dev
  # Subsets of embedded font programs, TrueType and CFF outlines alike: HarfBuzz's
  # subsetter (libharfbuzz-subset, with its headers and pkg-config file).
  libharfbuzz-dev
  # Faces the font tests ask for: metric-compatible stand-ins of the common desktop faces
  # (Liberation), DejaVu, a TrueType face with CJK coverage (Droid Sans Fallback) and faces
  # with CFF outlines (URW base 35), which are not TrueType programs.
  fonts-liberation fonts-dejavu-core fonts-droid-fallback fonts-urw-base35
  # The stamping tests' second opinions: fontTools opens embedded subsets with their
  # checksums checked, mutool extracts fonts and text as another reader does.
  python3-fonttools mupdf-tools
  # tests/support/make_crypt_vectors.py: the AES tests' expected values, computed apart
  # from the engine.
  python3-cryptography
  # Pictures stamped onto pages: JPEG through libjpeg-turbo, bitmaps and icons through
  # gdk-pixbuf, SVG through its librsvg loader.
  libjpeg62-turbo-dev libgdk-pixbuf-2.0-dev librsvg2-common
  # The windows: Qt 6 Widgets and Test; the offscreen platform plugin the window tests
  # run on; the OpenGL headers Qt's CMake package asks for (the last two also come with
  # qt6-base-dev, named because the build and tests fail without them).
  qt6-base-dev qt6-qpa-plugins libgl-dev
  # Unit and end-to-end tests (GoogleTest, GoogleMock; googletest holds their sources).
  libgtest-dev libgmock-dev googletest
  # scripts/screenshot.sh and the window test under a real X server: a private X server,
  # xwininfo (x11-utils), xwd (x11-apps), xwdtopnm and pnmtopng (netpbm), and xdotool,
  # which clicks and types as a user would; the xcb platform plugin comes with Qt.
  xvfb x11-utils x11-apps netpbm xdotool
  # The conversion window's fallback face is Liberation Sans (listed above), which has the
  # metrics of the layout's font.
  # Peers the end-to-end tests check our output against: qpdf (structure, --json read
  # through jq), pdftoppm and pdftotext (rendering, text); /usr/bin/time gives the
  # benchmark's peak memory (bench/).
  qpdf poppler-utils jq time
  # Dask distributed: scripts/pagewright-dask.py runs the conversions of a batch on a
  # cluster; its test starts a scheduler and two workers.
  python3-distributed
  # opj_compress: the JPEG 2000 image of the version report's fixture.
  libopenjp2-tools
  # localedef and the locale sources: a test makes a comma-decimal locale to show that
  # numbers the engine writes keep their ".".
  locales
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

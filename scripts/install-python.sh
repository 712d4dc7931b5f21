# Sourced after setup.sh: installs the Python package qbr from $BUILD_DIR into the site
# directory of Debian's /usr/bin/python3 (as root: /usr/local/lib/python3.X/dist-packages),
# so that `/usr/bin/python3 -c "import qbr"` works anywhere. Not as root, it says how.
if [ "$(id -u)" -eq 0 ]; then
  cmake --install "$BUILD_DIR" --component python >/dev/null
  echo "Installed the Python package qbr for /usr/bin/python3 ($(
    /usr/bin/python3 -c 'import qbr, os; print(os.path.dirname(qbr.__file__))'))"
else
  echo "Python package qbr built in $BUILD_DIR/python: use PYTHONPATH=$BUILD_DIR/python," \
    "or install it as root with: cmake --install $BUILD_DIR --component python"
fi

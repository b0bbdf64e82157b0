"""Where the step library was installed. `cmake --install` rewrites this
file in the installed copy of the package; a source tree or a pip install
leaves it unset, and the library is then found through the path given to
vx_steps.open() or $VX_STEPS_LIBRARY."""

PLUGIN_DIR = None

#pragma once

// Makes the location screens' symbol images (LocationSymbols.qrc) loadable. The
// resources of a static library must be pulled in by name before first use;
// calling this more than once is harmless.
void initLocationSymbols();

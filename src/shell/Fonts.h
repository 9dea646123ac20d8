#pragma once

// The default face "MS UI Gothic" and other Japanese Windows faces are
// mapped to an installed CJK face, so Japanese text shows everywhere;
// "Lucida Console" to an installed fixed-pitch face.
void installFontSubstitutions();

# Installation rules and packaging; owned by the packaging work.

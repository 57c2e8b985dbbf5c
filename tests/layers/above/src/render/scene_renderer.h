// Lies beside the scene's folder as the real renderer does in src/: a scene file that reached
// it through "../" would show the layer folders resolving ".." outside themselves.
#pragma once

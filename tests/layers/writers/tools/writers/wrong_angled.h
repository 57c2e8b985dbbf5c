// A writer reaching up to the content in angle brackets.
#include <content/demo_scenes.h>

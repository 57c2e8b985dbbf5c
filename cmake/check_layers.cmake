# The include direction between the layers, checked on every build (target check_layers) and
# as a test. A file may include its own layer and the layers listed for it; SDL, ImGui and
# libopenmpt headers only inside src/platform. The folders of tools/ are layers above src/:
# content and import use the writers, the writers neither; Assimp headers only inside
# tools/import, FreeType's only inside tools/content. The same rules make each layer's include
# folder (cmake/layer_folders.cmake), which holds the direction in the compiler too.
set(QUILM_LAYER_RULES
  "diag:"
  "platform:diag"
  "wavelet:diag"
  "image:diag,wavelet,platform"
  "scene:diag,image,wavelet,platform"
  "render:diag,scene,image,wavelet,platform"
  "hidetrack:diag,render,scene,image,wavelet,platform"
  "demo:diag,hidetrack,render,scene,image,wavelet,platform"
  "app:diag,demo,hidetrack,render,scene,image,wavelet,platform"
  "writers:diag,app,demo,hidetrack,render,scene,image,wavelet,platform"
  "content:writers,diag,app,demo,hidetrack,render,scene,image,wavelet,platform"
  "import:writers,diag,app,demo,hidetrack,render,scene,image,wavelet,platform"
  "quilm_tool:content,import,writers,diag,app,demo,hidetrack,render,scene,image,wavelet,platform")
# Passed on the command line with '|' between rules: a ';' would split the argument.
list(JOIN QUILM_LAYER_RULES "|" QUILM_LAYER_RULES_ARG)
add_custom_target(check_layers ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} "-DRULES=${QUILM_LAYER_RULES_ARG}"
          -P ${CMAKE_SOURCE_DIR}/cmake/check_layers_run.cmake
  COMMENT "Checking the include direction between layers" VERBATIM)

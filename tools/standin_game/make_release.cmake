# Later releases of the stand-in game, for the publisher's sequences in the tests: the first
# release's folder (SOURCE) copied to DEST and changed as release RELEASE changes it.
#   2: one more library at the top, a new "shaders" folder two levels deep, one more asset
#      and a changed one;
#   3: one library fewer and the whole "assets\patches" tree gone, a changed asset.
file(REMOVE_RECURSE "${DEST}")
file(COPY "${SOURCE}/" DESTINATION "${DEST}")
if(RELEASE EQUAL 2)
  file(WRITE "${DEST}/TorrentineAudio.dll" "Stand-in audio library of release 2.\n")
  file(WRITE "${DEST}/shaders/d3d12/main.cso" "Stand-in shader cache of release 2 (d3d12).\n")
  file(WRITE "${DEST}/shaders/vulkan/main.spv" "Stand-in shader cache of release 2 (vulkan).\n")
  file(WRITE "${DEST}/assets/lang/es.json" "{\"release\": 2}\n")
  file(WRITE "${DEST}/assets/version.txt" "2\n")
elseif(RELEASE EQUAL 3)
  file(REMOVE "${DEST}/dxil.dll")
  file(REMOVE_RECURSE "${DEST}/assets/patches")
  file(WRITE "${DEST}/assets/version.txt" "3\n")
else()
  message(FATAL_ERROR "make_release.cmake: RELEASE must be 2 or 3")
endif()

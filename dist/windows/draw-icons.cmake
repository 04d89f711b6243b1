# Draws the icon's sizes from the scalable one: cmake -DRSVG= -DSVG= -DOUT= -DSIZES= -P
foreach(size ${SIZES})
  execute_process(COMMAND ${RSVG} -w ${size} -h ${size} -o ${OUT}/icon-${size}.png ${SVG}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()

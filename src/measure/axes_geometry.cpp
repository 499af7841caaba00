// TEMPORARY placeholder for the scale geometry.

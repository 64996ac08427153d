/* No System V error handling (matherr): nothing to declare. */

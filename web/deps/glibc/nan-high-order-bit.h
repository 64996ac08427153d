/* IEEE 754-2008: a quiet NaN has the high-order bit of its significand set. */
#define HIGH_ORDER_BIT_IS_SET_FOR_SNAN 0

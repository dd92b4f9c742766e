/* Euclid's algorithm, as the C of 1978 would have written it. */
#include <stdio.h>
#include <stdlib.h>

/* The greatest common divisor of a and b: the remainder of the larger by
 * the smaller takes the larger's place until it is 0. */
int gcd(int a, int b)
{
	while (b != 0) {
		int t = a % b;
		a = b;
		b = t;
	}
	return a;
}

int main(int argc, char *argv[])
{
	if (argc != 3) {
		fprintf(stderr, "usage: %s a b\n", argv[0]);
		return 1;
	}
	printf("%d\n", gcd(atoi(argv[1]), atoi(argv[2])));  /* 1071 462: 21 */
	return 0;
}
